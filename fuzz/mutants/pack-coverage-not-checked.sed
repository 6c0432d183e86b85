# target: pack
# file: pack/like_layout.cpp
# fault: pack --like does not check that an added file falls into its own folder's range alone
s/if (plan\.Changes() && !CheckCoverage(b, ranges, problem)) return false;/(void)ranges;/
