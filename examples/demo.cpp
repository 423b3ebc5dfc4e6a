#include <cstdio>

int main() {
  std::puts("zelk demo");
  return 0;
}
