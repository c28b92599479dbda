#include "app/driver.h"

int main(int argc, char** argv) {
  return wav2ima::run_imaenc(argc, argv);
}
