#include "driver.hpp"

int main(int argc, char** argv) { return hittab::run(argc, argv); }
