#pragma once
// Where the gateway's values go. Each sink takes the tag list when it is made, then batches:
// Write hands one batch over (a sink that cannot take it now keeps it within its own bounds,
// or says why not), Flush pushes what it holds as far as it can without waiting long, and
// Close ends it for good. Adding a sink touches nothing but the gateway's list of sinks.
#include <stdexcept>
#include <string>

#include "logger/Records.h"

namespace plc::logger {

// A sink that cannot go on (a database that cannot be written): the gateway stops with its text.
class SinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A sink that cannot take the batch now but may later (a database another writer holds): the
// batch was not taken at all, and may be handed over again.
class SinkBusy : public SinkError {
 public:
  using SinkError::SinkError;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Write(const Batch& batch) = 0;
  virtual void Flush() = 0;
  virtual void Close() = 0;
};

}  // namespace plc::logger
