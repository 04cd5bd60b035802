// The trace hook: short progress texts at fixed points ("InitHW",
// "Halvorn DLL Loaded", "SRId:%d", ...). The shipped plug-in installs no sink,
// so they are discarded; tests install one and read them back.
#pragma once

#include <atomic>

namespace halvorn {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(const char* text) = 0;
};

class Trace {
 public:
  // Null discards. The sink must outlive its installation.
  void Install(TraceSink* sink) { sink_.store(sink, std::memory_order_release); }

  void operator()(const char* text) const {
    if (TraceSink* sink = sink_.load(std::memory_order_acquire)) sink->Write(text);
  }

  // One integer formatted into a 64-byte text, as the stream start reports
  // its figures.
  void Format(const char* format, int value) const;

 private:
  std::atomic<TraceSink*> sink_{nullptr};
};

}  // namespace halvorn
