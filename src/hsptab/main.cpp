#include "driver.hpp"

int main(int argc, char** argv) { return hittab::hsptab::run(argc, argv); }
