#include "app/helper_main.h"

int main(int argc, char** argv) { vardelle::app::PrintHelperMain::main(argc, argv); }
