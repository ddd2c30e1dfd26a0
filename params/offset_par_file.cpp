#include "params/offset_par_file.h"

#include "params/pending_output.h"

#include <exception>

bool write_offset_par_file(const std::string& path, const stOffsetParInfo& par) {
    try {
        PendingOutput file(path);
        write_offset_par(file.stream(), &par);
        file.commit();
        return true;
    } catch (const std::exception&) {
        return false; // the pending output removed its temporary
    }
}
