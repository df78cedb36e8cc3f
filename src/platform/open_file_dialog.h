// The system's open-file dialog, asked for as the open-file structure's fields say.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "window_id.h"

namespace vantrel {

// OFN_* flags with the platform's values.
constexpr std::uint32_t kOfnReadOnly = 0x1;
constexpr std::uint32_t kOfnAllowMultiSelect = 0x200;
constexpr std::uint32_t kOfnPathMustExist = 0x800;
constexpr std::uint32_t kOfnFileMustExist = 0x1000;
constexpr std::uint32_t kOfnExplorer = 0x80000;
// The fields of the open-file structure the program sets; all others stay zero. The structure is
// passed in its older size, without the fields later systems added (76 bytes on 32-bit systems).
struct OpenFileRequest {
    WindowId owner = kNoWindow;
    // Pairs of zero-terminated texts, followed by a further zero (the zeros are in the string).
    std::string filter;
    std::uint32_t filterIndex = 0;
    std::string initialDir;  // empty: the dialog chooses its own start folder
    std::string title;
    std::uint32_t flags = 0;
};

class OpenFileDialogPort {
public:
    virtual ~OpenFileDialogPort() = default;
    // Shows the dialog with `selection` as the file buffer (its size is the buffer size the dialog
    // is given). On true, `selection` holds what the dialog wrote, exactly as it wrote it, and
    // `fileOffset` the offset of the (first) file name. False: cancelled or failed.
    virtual bool show(const OpenFileRequest& request, std::vector<char>& selection,
                      std::uint16_t& fileOffset) = 0;
};

}  // namespace vantrel
