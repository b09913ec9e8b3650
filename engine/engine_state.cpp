// The process-wide engine record.
#include "engine/engine_state.h"

namespace tonvarel {

constinit EngineState engine;  // constant-initialised: usable by other statics

}  // namespace tonvarel
