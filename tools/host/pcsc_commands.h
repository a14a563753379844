// zolm-host's PC/SC commands: list the smart-card readers, and send APDUs (hex in, hex out) to the
// card in one reader, through zolm_pcsc.so's exports.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zolm::host {

// Runs one PC/SC command; args[0] is the command word ("pcsc-readers" or "pcsc-send"). Results go
// to out, messages to err. Returns 0 on success, 1 when the library reported an error, 2 for a
// mistake on the command line.
int RunPcscCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// True for the command words RunPcscCommand serves.
bool IsPcscCommand(const std::string &word);

// The commands' part of --help.
std::string PcscHelpText();

}  // namespace zolm::host
