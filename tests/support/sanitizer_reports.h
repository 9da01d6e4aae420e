#pragma once
// The programs the tests start are built with the same sanitizers as the tests. Their
// reports fail the test that started them, whether or not the test reads their stderr:
// every sim::ControllerProcess hands its reports to this handler at its end.
#include <string>

void failOnSanitizerReport(const std::string& binary, const std::string& reports);
