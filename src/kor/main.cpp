// kor: the session daemon of korctl (control mode only).
#include "kor/Daemon.h"

int main(int argc, char** argv) { return kor::runKor(argc, argv); }
