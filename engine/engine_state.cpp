// The process-wide engine record.
#include "engine/engine_state.h"

namespace tonvarel {
namespace {

// Holds the record without ever destroying it. The output stream, a process-lifetime object of
// another file, streams from the record until its own destructor has stopped the streaming
// thread, and the order of static destructors across files is not fixed. So the record's storage
// is released explicitly instead: the take by the stream, the tables after the message loop.
union Undestroyed {
  constexpr Undestroyed() : record() {}
  ~Undestroyed() {}
  EngineState record;
};

constinit Undestroyed processEngine;  // constant-initialised: usable by other statics

}  // namespace

constinit EngineState& engine = processEngine.record;

}  // namespace tonvarel
