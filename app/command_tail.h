#pragma once

// The command-line tail that the program's options are read from: the whole command
// line less the program's name and the blanks and control characters after it. The
// rule is the program's own, not the C runtime start-up's: MinGW's start-up reads on
// past a closing quote to the next blank and takes a letter above 127 for a blank,
// and both turn one mode into another (a recorded install into a plain one, "/au"
// into an uninstall). Returns a pointer into `commandLine`; "" for nullptr.
const char* CommandTailOf(const char* commandLine);
