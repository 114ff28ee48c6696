#pragma once
// quirewell-count --merge: adds up the per-file JSON-lines records that several runs wrote (the
// shards of one large count) and writes their totals, as --totals-only would have for one run.

#include "CliOptions.h"

#include <cstdio>

namespace cli {

// Reads options.operands (none, or "-": standard input). Returns the exit status: 0 every file
// of every shard was counted, 1 some were not (or the output failed), 2 an input is unreadable
// or holds a line that is not a file record.
int RunMerge(const CliOptions &options, std::FILE *in, std::FILE *out, std::FILE *err);

}  // namespace cli
