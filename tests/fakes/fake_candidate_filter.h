// A candidate filter with scripted answers per path (admitted unless refused), recording every
// path it is asked about.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "filelist/candidate_filter.h"

namespace vantrel {

class FakeCandidateFilter : public CandidateFilter {
public:
    void refuse(const std::string& path) { m_refused.insert(path); }
    bool IsCompatibleCandidate(const std::string& path) override {
        m_asked.push_back(path);
        return m_refused.count(path) == 0;
    }
    const std::vector<std::string>& asked() const { return m_asked; }

private:
    std::set<std::string> m_refused;
    std::vector<std::string> m_asked;
};

}  // namespace vantrel
