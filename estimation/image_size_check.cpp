#include "estimation/image_size_check.h"

#include <sys/stat.h>

bool plausible_image_size(std::FILE* file, int columns, int rows, int bytesPerSample) {
    struct stat st;
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    const long long lineBytes = static_cast<long long>(columns) * bytesPerSample;
    const long long fileBytes = st.st_size;
    if (lineBytes > fileBytes)
        return false;
    const long long wholeLines = fileBytes / lineBytes;
    return rows <= 2 * wholeLines;
}
