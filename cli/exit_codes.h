// The exit codes every command of wza ends with: the libraries return outcomes, and the
// front ends turn them into these.
#pragma once

constexpr int kExitOk = 0;
constexpr int kExitPartial = 1;  // some entries failed, an archive was skipped, a pattern matched nothing
constexpr int kExitDiffers = 1;  // diff: the archives differ, a `!` entry included
constexpr int kExitFailed = 2;   // nothing could be done: a usage error, no archive read, output lost
