#include "params/offset_par_file.h"

#include <cstdio>
#include <unistd.h>

bool write_offset_par_file(const std::string& path, const stOffsetParInfo& par) {
    const std::string temp = path + ".tmp." + std::to_string(static_cast<long>(getpid()));
    std::FILE* stream = std::fopen(temp.c_str(), "w");
    if (stream == nullptr)
        return false;
    write_offset_par(stream, &par);
    bool ok = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    ok = (fsync(fileno(stream)) == 0) && ok;
    ok = (std::fclose(stream) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temp.c_str());
    return false;
}
