// The binary contract between the Odrel launcher and the runtime library
// odrelruntime.dll that it downloads, verifies and loads.
//
// A runtime library includes this header, builds with the same compiler
// (i686-w64-mingw32 g++) and the same Boost release as the launcher, and
// exports one factory:
//
//   extern "C" __declspec(dllexport) RuntimeObject* NewRuntime();
//
// The launcher calls, on its main thread and at most once each, in this order:
// NewRuntime, Initialize, Run, GetResultMessage, Release; then it unloads the
// library. Initialize and Run are skipped when NewRuntime returns null.
//
// The outcome of the work is reported only through the result message: a
// message that contains "Error" or "Fail" (case-sensitive) makes the launcher
// report a problem and exit with status 1.
#ifndef ODREL_CLI_ODREL_RUNTIME_H_
#define ODREL_CLI_ODREL_RUNTIME_H_

#include <boost/function.hpp>

// Polled by the runtime while it works: returns 1 once the user has asked to
// stop (Ctrl+C or Ctrl+Break), 0 before. Safe to call from any thread, any
// number of times.
typedef boost::function<int()> StopCheck;

// Reserved callbacks. The launcher always passes all four empty; a runtime
// must test them before calling.
typedef boost::function<void(const char* status_text)> RuntimeCallback1;
typedef boost::function<void(int percent_done)> RuntimeCallback2;
typedef boost::function<void(int code, const char* detail)> RuntimeCallback3;
typedef boost::function<bool(const char* question)> RuntimeCallback4;

// The launcher reaches the object only through its virtual table, by slot:
// 0 Initialize, 2 GetResultMessage, 5 Run, 8 Release. The other slots are
// never called; they keep the layout and are free for the runtime's own use.
// There is deliberately no virtual destructor (it would take slots): the
// object ends itself in Release.
class RuntimeObject {
 public:
  // Slot 0. |argv| and |argc| are the launcher's command line exactly as it
  // received it, launcher options included. The result is not read.
  virtual int Initialize(char** argv, int argc, RuntimeCallback1 callback1,
                         RuntimeCallback2 callback2, RuntimeCallback3 callback3,
                         RuntimeCallback4 callback4) = 0;
  virtual void Reserved1() {}
  // Slot 2. A NUL-terminated text owned by the runtime; it must stay valid
  // until Release. The launcher copies it and treats null as empty.
  virtual const char* GetResultMessage() = 0;
  virtual void Reserved3() {}
  virtual void Reserved4() {}
  // Slot 5. Does the work and returns when it is done. The result is not read.
  virtual int Run(StopCheck stop_check) = 0;
  virtual void Reserved6() {}
  virtual void Reserved7() {}
  // Slot 8. Ends the object; the launcher does not touch it afterwards.
  virtual void Release() = 0;

 protected:
  ~RuntimeObject() {}
};

// The type of the exported factory.
typedef RuntimeObject* (*NewRuntimeFunction)();

#endif  // ODREL_CLI_ODREL_RUNTIME_H_
