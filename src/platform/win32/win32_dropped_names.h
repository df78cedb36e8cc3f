// The names of one shell drop (WM_DROPFILES). The drop handle is given back with DragFinish once,
// on release() or when the object goes.
#pragma once

#include <windows.h>

#include "platform/dropped_names.h"

namespace vantrel {

class Win32DroppedNames : public DroppedNamesPort {
public:
    explicit Win32DroppedNames(HDROP drop) : m_drop(drop) {}
    ~Win32DroppedNames() override { release(); }
    Win32DroppedNames(const Win32DroppedNames&) = delete;
    Win32DroppedNames& operator=(const Win32DroppedNames&) = delete;

    std::uint32_t count() override;
    std::string name(std::uint32_t index) override;
    void release() override;

private:
    HDROP m_drop;
};

}  // namespace vantrel
