// Checking, once before a run, the destination folder the user named.
#pragma once

#include <string>

// What is wrong with `destination`, in one line for the user, or "" when it is a folder or
// can become one (what is missing of it is made as the entries need it). Where the system
// will not tell, "" as well: the entries then report what they meet.
std::string DestinationProblem(const std::string& destination);
