// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The optional third-party samples beside the project (../shared/data: a real
// .dmc saved by the Windows logging tool and two real modem captures). The
// suite makes its own fixtures in their shapes (support/Fixtures.h); a test
// that also wants the real files asks here and skips when they are absent:
//
//     const std::optional<std::string> path = SampleFile("dmc/default.dmc");
//     if (!path)
//         GTEST_SKIP() << SampleMissing("dmc/default.dmc");
#include <optional>
#include <string>

// Path of a file under the sample folder, or nullopt when it is not there.
std::optional<std::string> SampleFile(const std::string& relative);

// The one line a skipped test gives: which sample was missing and where.
std::string SampleMissing(const std::string& relative);
