#pragma once

#include <string>

// The stable name under which a pseudo-terminal is offered to other programs.
namespace queltor::devsim {

// Makes path a symbolic link to target, creating missing parent folders.
// An existing symbolic link is replaced in one step; anything else at path is
// left alone. Returns an empty string, or why it could not be done.
std::string publishLink(const std::string &path, const std::string &target);

// Removes path if it is still a symbolic link to target; a link that someone
// has since pointed elsewhere is theirs.
void withdrawLink(const std::string &path, const std::string &target);

} // namespace queltor::devsim
