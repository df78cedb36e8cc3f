// The system's open-file dialog through GetOpenFileNameA.
#pragma once

#include "platform/open_file_dialog.h"

namespace vantrel {

class Win32OpenFileDialog : public OpenFileDialogPort {
public:
    bool show(const OpenFileRequest& request, std::vector<char>& selection,
              std::uint16_t& fileOffset) override;
};

}  // namespace vantrel
