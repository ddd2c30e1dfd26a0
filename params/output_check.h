#pragma once

#include <string>
#include <vector>

// "Is this output an input?", asked by file identity, never by path text:
// a file that exists is its device and inode (so ./s.slc, sub/../s.slc, a
// hard link and a path through a symbolic link are all the same file); one
// that does not exist yet is its parent directory, resolved, and its name.
bool same_file(const std::string& a, const std::string& b);

// Each path a run will write beside the one it is asked for: the XML, the
// mask and the temporary of each. Given with the name of what they are.
struct NamedPath {
    std::string path;
    std::string role; // "output", "master image", "slave XML" ...
};

// Before anything is read: FileError naming the output when any output is
// the same file as an input, or as another output.
void check_outputs_are_not_inputs(const std::vector<NamedPath>& outputs,
                                  const std::vector<NamedPath>& inputs);
