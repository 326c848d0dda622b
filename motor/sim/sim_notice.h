#pragma once

namespace vorn_motor_sim::detail {

/// Says on standard error, once per process, that this libvorn_motor.so.1 is
/// the simulation, unless VORN_MOTOR_SIM_QUIET=1. Called as a motor is
/// created, so a program that builds no motor hears nothing.
void AnnounceSimulation();

}  // namespace vorn_motor_sim::detail
