#include "params/output_check.h"

#include "params/file_error.h"
#include "params/pending_output.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace {

struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string resolved; // for a file not there yet: real parent + "/" + name
};

Identity identity_of(const std::string& path) {
    Identity id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    const std::size_t slash = path.rfind('/');
    const std::string parent =
        slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char real[PATH_MAX];
    id.resolved =
        (::realpath(parent.c_str(), real) != nullptr ? std::string(real) : parent) + "/" + name;
    return id;
}

bool same_identity(const Identity& a, const Identity& b) {
    if (a.exists != b.exists)
        return false;
    return a.exists ? a.device == b.device && a.inode == b.inode : a.resolved == b.resolved;
}

} // namespace

bool same_file(const std::string& a, const std::string& b) {
    return same_identity(identity_of(a), identity_of(b));
}

void check_outputs_are_not_inputs(const std::vector<NamedPath>& outputs,
                                  const std::vector<NamedPath>& inputs) {
    std::vector<Identity> written;
    for (const NamedPath& output : outputs) {
        const Identity id = identity_of(output.path);
        const Identity temporary = identity_of(pending_temporary_name(output.path));
        for (const NamedPath& input : inputs) {
            const Identity read = identity_of(input.path);
            if (same_identity(id, read) || same_identity(temporary, read))
                throw FileError(output.path, "the " + output.role + " would overwrite the " +
                                                 input.role + " " + input.path);
        }
        for (std::size_t k = 0; k < written.size(); k++)
            if (same_identity(id, written[k]))
                throw FileError(output.path, "the " + output.role + " would overwrite the " +
                                                 outputs[k].role + " " + outputs[k].path);
        written.push_back(id);
    }
}
