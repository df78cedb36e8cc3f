#include "engine/avi_calls.h"

namespace vantrel {

EngineAviCalls& AviCalls() {
    static EngineAviCalls calls;
    return calls;
}

}  // namespace vantrel
