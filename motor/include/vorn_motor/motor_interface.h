#pragma once

/// A motor of the motor-driver library libvorn_motor.
///
/// vorn_io compiles against these declarations only; at run time the vendor's
/// libvorn_motor (or the simulated stand-in shipped with vorn_io) provides
/// them. Every operation returns 0 on success.
class MotorInterface {
 public:
  virtual ~MotorInterface();

  /// Readies the motor for every other call; called once, first.
  virtual int initMotor() = 0;
  /// Position command in the frame of `getPosition`; returns without waiting.
  virtual int setPosition(double position) = 0;
  virtual int setVelocity(double velocity) = 0;
  virtual int getVelocity(double& velocity) = 0;
  virtual int getPosition(double& position) = 0;
  virtual int setEnable(bool enable) = 0;
  /// Writes whether the motor is still enabled; non-zero if the query failed.
  virtual int getEnableState(bool& enabled) = 0;
  /// Makes the present position the zero of the position frame.
  virtual int setZeroPosition(int value) = 0;
  /// Writes the present torque, signed.
  virtual int getTorque(double& torque) = 0;
};
