#pragma once

// The names other programs find the lamp by on the session bus, shared by the service and the
// command-line client.
namespace LampBus {
inline constexpr char kService[] = "com.veltra.DigitalLamp";
inline constexpr char kPath[] = "/com/veltra/DigitalLamp";
inline constexpr char kInterface[] = "com.veltra.DigitalLamp.Lamp1";
// Raised when the interface changes in a way old clients notice; additions keep it.
inline constexpr unsigned kInterfaceVersion = 2;
// Error names: kInvalidArgs for a value refused, kNotConnected without a lamp, kBusy while the
// window cannot take a change (long work such as a display text upload or a coefficient write, a
// question or file dialog open, the protected first channel).
inline constexpr char kInvalidArgs[] = "com.veltra.DigitalLamp.Error.InvalidArgs";
inline constexpr char kNotConnected[] = "com.veltra.DigitalLamp.Error.NotConnected";
inline constexpr char kNoSuchPreset[] = "com.veltra.DigitalLamp.Error.NoSuchPreset";
inline constexpr char kBusy[] = "com.veltra.DigitalLamp.Error.Busy";
// The same error for its two other causes, named apart so each is found where it is raised:
// the first channel is protected, and the program is ending with calls still waiting.
inline constexpr const char* kFirstChannelProtected = kBusy;
inline constexpr const char* kProgramEnding = kBusy;
// kFailed: a change the main lamp did not answer, that did not go out in time or that the
// window could not make (a box it needed holds no number), or a preset the program could not
// save.
inline constexpr char kFailed[] = "com.veltra.DigitalLamp.Error.Failed";
// kUnconfirmed: the main lamp has not yet answered a change the controller is sending, after the
// longest a lamp that is there can take; the change may still reach the lamp.
inline constexpr char kUnconfirmed[] = "com.veltra.DigitalLamp.Error.Unconfirmed";
}  // namespace LampBus
