#pragma once

#include "vorn_io/export.h"

/// The one interface every vorn_io device implements.
///
/// A device has two commanded positions, named by the status values 0 and 1.
/// The host owns each device through a `VornIoInterface*` (or a smart pointer
/// to it), commands it with `setIoStatus`, polls it with `getIoStatus` and
/// destroys it through this interface.
///
/// Status values
///   - Commands: 0 and 1 name the two positions; which physical end each one
///     is belongs to the device.
///   - Reports: 0 or 1 (a settled state or a finished motion, depending on the
///     device), and -1 while a lifter is still moving.
///   - Results: 0 for accepted (or nothing to do), -1 for refused.
///
/// States, and what each operation may do in them
///   - Constructed: the device has acquired its motor (if it has one) and may
///     be commanded and polled at once.
///   - Moving (lifter only): `setIoStatus` refuses every command with -1;
///     `getIoStatus` reports -1.
///   - Idle / settling: `setIoStatus` starts a motion; `getIoStatus` reports
///     the device's present status.
///   - Destroyed: the destructor parks and disables the motor before it is
///     released. It may block for a bounded time while the motor shuts down.
///
/// Threads: a lifter may be commanded and polled from any thread; a servo
/// gripper from one thread at a time; `VirtualGripper` from anywhere.
///
/// Copying is deleted in every device: a device object is the one owner of a
/// piece of hardware, and two objects driving the same motor would fight.
class VORN_IO_EXPORT VornIoInterface {
 public:
  VornIoInterface() = default;
  virtual ~VornIoInterface();

  VornIoInterface(const VornIoInterface&) = delete;
  VornIoInterface& operator=(const VornIoInterface&) = delete;
  VornIoInterface(VornIoInterface&&) = delete;
  VornIoInterface& operator=(VornIoInterface&&) = delete;

  /// Commands the device to position `status`. Returns 0 when the command was
  /// accepted or there was nothing to do, -1 when it was refused.
  virtual int setIoStatus(int status) = 0;

  /// Writes the device's present status into `status`. What the result means
  /// is given by each device; it is never an exception.
  virtual int getIoStatus(int& status) = 0;
};
