// The fuzz input is an XML image parameter file. A missing or unconvertible
// numeric element raises the property tree's error by design; anything else
// escaping the reader, or any sanitizer report, is a finding.
#include "fuzz_scratch_file.h"
#include "params/sar_image_xml.h"

#include <boost/property_tree/exceptions.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    static const FuzzScratchFile file(".xml");
    file.write(data, size);

    auto info = std::make_unique<stSarImageInfo>();
    try {
        read_sar_image_xml(file.path(), *info);
    } catch (const boost::property_tree::ptree_error&) {
    }
    return 0;
}
