// SPDX-License-Identifier: Apache-2.0
// The driver's monthly diagnostic logs (impdebugMMYY.txt) in the state folder: those of months
// more than a given number of months before the current one are deleted.
#pragma once

#include <string>
#include <vector>

namespace fpd {

// The month a driver log's name stands for, as year * 12 + month - 1; -1 for any other name.
// Two-digit years are taken in the hundred years up to the year after the current one.
int DriverLogMonth(const std::string& name, int currentYear);

// Deletes the driver logs in dir of months more than months before the month of year/month
// (1 to 12). Answers the names deleted; a file that cannot be deleted is left and not named.
std::vector<std::string> DeleteOldDriverLogs(const std::string& dir, int months, int year,
                                             int month);

}  // namespace fpd
