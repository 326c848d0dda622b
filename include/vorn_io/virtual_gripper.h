#pragma once

#include "vorn_io/export.h"
#include "vorn_io/vorn_io_interface.h"

/// A gripper without hardware: it accepts every command and reports nothing.
/// Useful where a robot description names a gripper that is not fitted.
/// It holds no state, so any thread may use it at any time.
class VORN_IO_EXPORT VirtualGripper : public VornIoInterface {
 public:
  VirtualGripper();
  ~VirtualGripper() override;

  /// Ignores `status` and returns 0.
  int setIoStatus(int status) override;

  /// Leaves `status` as it is and returns 0.
  int getIoStatus(int& status) override;
};
