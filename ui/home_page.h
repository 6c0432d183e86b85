#pragma once

// The web-site label shows this address and opens it when clicked.
constexpr char kHomePage[] = "http://wza.example";
