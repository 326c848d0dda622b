// Placeholder: replaced by the gripper implementation.
#include "vorn_io/gripper/servo_gripper.h"

ServoGripper::ServoGripper(int, unsigned int, std::string&, bool) {}
ServoGripper::ServoGripper(const std::string&) {}
ServoGripper::ServoGripper(int, std::string&) {}
ServoGripper::ServoGripper(YAML::Node) {}
ServoGripper::~ServoGripper() = default;
void ServoGripper::InitServoGripper(int, unsigned int, std::string&, bool) {}
int ServoGripper::setGripperMotion(double, double) { return 0; }
int ServoGripper::getGripperState(bool&) { return 0; }
int ServoGripper::function_get_para(YAML::Node&) { return 0; }
int ServoGripper::function_get_para(std::string&) { return 0; }
int ServoGripper::function_get_para(unsigned int, std::string&) { return 0; }
