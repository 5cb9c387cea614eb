// The time a flux device's timers run on: the host's watch for a quiet link
// and the device's own watchdog both read it. Hardware runs on the steady
// clock; tests hand the backend and the simulated device one clock they move
// themselves, so that "ten seconds of quiet" takes no time.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

namespace kelvara::flux {

class DeviceClock {
 public:
  virtual ~DeviceClock() = default;
  virtual std::chrono::milliseconds Now() const = 0;
};

class SteadyDeviceClock final : public DeviceClock {
 public:
  std::chrono::milliseconds Now() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }
};

// Stands still until moved; the device's thread reads it while a test moves it.
class ManualDeviceClock final : public DeviceClock {
 public:
  std::chrono::milliseconds Now() const override { return std::chrono::milliseconds(now_.load()); }
  void Advance(std::chrono::milliseconds by) { now_ += by.count(); }

 private:
  std::atomic<int64_t> now_{1000};
};

// The clock a backend and its simulated device run on when none is given.
inline std::shared_ptr<DeviceClock> SteadyClockShared() {
  return std::make_shared<SteadyDeviceClock>();
}

}  // namespace kelvara::flux
