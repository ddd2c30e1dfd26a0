#include "estimation/slc_image_file.h"

#include "params/file_error.h"
#include "params/image_info.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

SlcImageFile open_slc_image(const std::string& path) {
    SlcImageFile image;
    image.path = path;
    image.file = open_file(path, "rb");
    if (!image.file)
        throw FileError(path, std::string("cannot be opened: ") +
                                  (errno != 0 ? std::strerror(errno) : "not a regular file"));
    const stSarImageInfo info = *read_image_info(path);
    image.width = info.numberOfColumns;
    image.lines = info.numberOfRows;
    image.format = sample_format_of(info.imageDataType);
    struct stat st;
    if (::fstat(::fileno(image.file.get()), &st) == 0 && S_ISREG(st.st_mode))
        check_image_length(path, static_cast<long long>(st.st_size), image.width, image.lines,
                           image.format);
    return image;
}
