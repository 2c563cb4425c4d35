#pragma once

#include <QString>

// The program's two output channels. Standard output carries only the program's own
// report lines and is flushed line by line, since it may be a pipe; everything a user
// must know about a problem goes to standard error, one line each.
namespace Console {

void printLine(const QString& line);

// Writes "<program>: <message>" to standard error.
void printError(const QString& message);

} // namespace Console
