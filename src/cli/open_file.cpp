#include "open_file.h"

#include <cstdio>

namespace vantrel {

bool ReadInput(const std::string& path, avi::AviContents* contents, std::string* problem) {
    std::shared_ptr<avi::ByteSource> source;
    if (avi::OpenFileSource(avi::FilePath::Narrow(path), &source) != AVIERR_OK) {
        *problem = "cannot open the file (missing, a folder, or no permission)";
        return false;
    }
    if (avi::ReadAviContents(source, contents, problem) != AVIERR_OK) {
        if (problem->empty())
            *problem = "not a readable AVI file";
        return false;
    }
    return true;
}

void ReportBadInput(const std::string& path, const std::string& problem) {
    std::fprintf(stderr, "vantrel: %s: %s\n", path.c_str(), problem.c_str());
}

}  // namespace vantrel
