# target: pack
# file: pack/old_regions.cpp
# fault: pack --like of a changed tree misses tables and names that overlap each other
s/if (structural\[furthest\]\.end > structural\[i\]\.start) {/if (false) {/
