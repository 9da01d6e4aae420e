#include "support/sanitizer_reports.h"

#include "controller_process.h"

#include <gtest/gtest.h>

void failOnSanitizerReport(const std::string& binary, const std::string& reports)
{
    ADD_FAILURE() << binary << " reported:\n" << reports;
}

namespace {

// Installed before any test runs.
const bool installed = (sim::setSanitizerReportHandler(failOnSanitizerReport), true);

} // namespace
