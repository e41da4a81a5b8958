// The including project's own code: C++17, with an unused parameter that twicenat's warnings
// would turn into an error had they leaked.
static_assert(__cplusplus == 201703L, "the project's own C++ standard was changed");

int answer(int unused) {
   return 42;
}

int main() {
   return answer(0) == 42 ? 0 : 1;
}
