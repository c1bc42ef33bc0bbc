#pragma once
// Whether an object still exists after a call that may have destroyed it: a host's event
// handler may unload the control that raised the event (a form closed from the handler), and the
// code that raised it must then touch nothing of the control again.
#include <memory>

namespace plc {

class Lifetime {
 public:
  class Watch {
   public:
    explicit Watch(const std::shared_ptr<const bool>& token) : token_(token) {}
    bool Gone() const { return token_.expired(); }

   private:
    std::weak_ptr<const bool> token_;
  };

  Lifetime() = default;
  // A copy is another object, with a life of its own.
  Lifetime(const Lifetime&) : Lifetime() {}
  Lifetime& operator=(const Lifetime&) { return *this; }

  Watch Watched() const { return Watch(token_); }

 private:
  std::shared_ptr<const bool> token_ = std::make_shared<const bool>(true);
};

}  // namespace plc
