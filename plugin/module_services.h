// The module-wide parts every subsystem may use, handed around as one bundle.
#pragma once

namespace halvorn {

class Trace;
class HostLink;
class UserInterface;
namespace device {
class DeviceLibrary;
}
namespace receiver {
class ControlRecordLink;
}

struct ModuleServices {
  device::DeviceLibrary& device;
  receiver::ControlRecordLink& control_record;
  HostLink& host;
  UserInterface& ui;
  Trace& trace;
};

}  // namespace halvorn
