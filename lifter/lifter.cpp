// Placeholder: replaced by the lifter implementation.
#include "vorn_io/lifter.h"

UpdownLifter::UpdownLifter(const YAML::Node& /*node*/) {}
UpdownLifter::~UpdownLifter() { stop(); }
int UpdownLifter::setIoStatus(int /*status*/) { return -1; }
int UpdownLifter::getIoStatus(int& status) { return status = currentStatus.load(); }
void UpdownLifter::initParameter() {}
void UpdownLifter::setInitialStatus(int status) { currentStatus.store(status); }
void UpdownLifter::Callback() {}
