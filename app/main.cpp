// fennik: the desktop program.
#include "app/CAppMain.h"

int main(int argc, char** argv) { return fennik::RunApplication(argc, argv); }
