// The free-format reader on arbitrary text, driven by a short program of
// reads taken from the input's first bytes (the rest is the file).
#include "../fuzz_support.hpp"

#include "common/list_reader.hpp"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::enter_scratch_folder("list_reader");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t program = std::min<std::size_t>(size, 16);
    fuzz_support::write_file("text.txt", data + program, size - program);
    std::FILE* f = std::fopen("text.txt", "r");
    if (f == nullptr) fuzz_support::finding("cannot reopen the input");
    const std::string form = fortran::unreadable_text_form(f);
    if (std::ftell(f) != 0) fuzz_support::finding("the form check did not leave the file at its start");
    (void)form;

    fortran::ListReader in(f);
    long last_line = 0;
    for (std::size_t step = 0; step < 64; ++step) {
        const std::uint8_t op = program > 0 ? data[step % program] : 0;
        std::string token;
        int n = 0;
        double v = 0.0;
        switch (op % 6) {
            case 0: in.begin_record(); break;
            case 1: in.read_integer(n); break;
            case 2: in.read_real(v); break;
            case 3:
                // Every integer is also a real of the same value.
                if (in.next_token(token) && fortran::parse_integer(token, n)) {
                    if (!fortran::parse_real(token, v) || v != n)
                        fuzz_support::finding("integer '" + token + "' does not read as the same real");
                }
                if (fortran::parse_real(token, v) && std::isinf(v) && token.find_first_of("iI") == std::string::npos)
                    fuzz_support::finding("'" + token + "' overflowed to infinity and was accepted");
                break;
            case 4: in.skip_lines(1 + op / 6 % 3); break;
            case 5: in.read_line(); break;
        }
        if (in.line_number < last_line) fuzz_support::finding("the line count went back");
        last_line = in.line_number;
    }
    std::fclose(f);
    return 0;
}
