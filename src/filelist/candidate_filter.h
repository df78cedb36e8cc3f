// The admission test the adders put every candidate path to before appending it. The
// compatibility rule implements it; it shows its own boxes for a refused file.
#pragma once

#include <string>

namespace vantrel {

class CandidateFilter {
public:
    virtual ~CandidateFilter() = default;
    // True when `path` may be appended to the file list.
    virtual bool IsCompatibleCandidate(const std::string& path) = 0;
};

// What the rule needs to know of the list: while it is empty a candidate sets the reference.
class ListCountSource {
public:
    virtual ~ListCountSource() = default;
    virtual int count() const = 0;
};

}  // namespace vantrel
