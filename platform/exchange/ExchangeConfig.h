#pragma once
// The exchange's configuration file, one statement a line ('#' comments):
//   controller <number> <B-channels> <MSN>...   a card with its own numbers
//   noanswer <ms>                                how long a call may ring
#include <string>
#include <vector>

struct ExchangeController {
    int number = 0;
    int channels = 0;
    std::vector<std::string> msns;
};

struct ExchangeConfig {
    std::vector<ExchangeController> controllers;
    int noAnswerMs = 6000;
};

// False, with the line in error, when the file cannot be read or a line
// is malformed.
bool LoadExchangeConfig(const std::string& path, ExchangeConfig* config, std::string* error);
