// zarvdata's compiled record parser: the record lines of a data file, as the
// station writes them, straight into an int16 array. Anything else is left to
// the package's own Python, which stays the reference for every file.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>

namespace {

// What bytes.split() splits on, less the line's own end.
bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == 11 || c == 12;
}

// Clipped to int16, as the reference does.
std::int16_t Clip16(std::int64_t value) {
    return static_cast<std::int16_t>(value < -32768 ? -32768 : value > 32767 ? 32767 : value);
}

enum class Line { Good, WrongCount, NotPlain };

constexpr std::uint64_t kBytes(std::uint8_t b) {
    return 0x0101010101010101ULL * b;
}

// The run of decimal digits the eight bytes at p begin with: its length (0 to
// 8) and, when shorter than eight, its value. All eight bytes at once, with no
// branch on how long the number is.
int DigitRun(const unsigned char* p, std::uint64_t* value) {
    std::uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
    const std::uint64_t low = bytes & kBytes(0x0F);
    // Non-zero where a byte is no digit: its high half is not 3, or its low half is over 9.
    const std::uint64_t odd =
        ((bytes & kBytes(0xF0)) ^ kBytes(0x30)) | ((low + kBytes(6)) & kBytes(0xF0));
    const std::uint64_t flags = (((odd & kBytes(0x7F)) + kBytes(0x7F)) | odd) & kBytes(0x80);
    const int length = flags == 0 ? 8 : __builtin_ctzll(flags) / 8;
    if (length == 0 || length == 8) return length;
    // The digits moved to the top bytes, zeros before them; then pairs, fours, eights.
    std::uint64_t v = low << (8 * (8 - length));
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFULL;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFULL;
    v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFULL;
    *value = v;
    return length;
}

// One line [at, end) of `words` plain decimal numbers into out, clipped to int16
// as the reference does. More than 18 digits is left to it too.
Line ParseLine(const unsigned char* at, const unsigned char* end, Py_ssize_t words,
               std::int16_t* out) {
    Py_ssize_t field = 0;
    while (true) {
        while (at < end && IsBlank(*at)) ++at;
        if (at == end) return field == words ? Line::Good : Line::WrongCount;
        // The usual field, up to seven digits after an optional sign, whole at
        // once; anything else goes the long way below.
        if (field < words && end - at >= 9) {
            const bool negative = *at == '-';
            const unsigned char* digit = at + (negative || *at == '+' ? 1 : 0);
            std::uint64_t magnitude = 0;
            const int length = DigitRun(digit, &magnitude);
            if (length >= 1 && length <= 7 && (digit + length == end || IsBlank(digit[length]))) {
                const auto value = static_cast<std::int64_t>(magnitude);
                out[field++] = Clip16(negative ? -value : value);
                at = digit + length;
                continue;
            }
        }
        const unsigned char* start = at;
        while (at < end && !IsBlank(*at)) ++at;
        if (field == words) return Line::WrongCount;
        const unsigned char* digit = start;
        const bool negative = *digit == '-';
        if (*digit == '-' || *digit == '+') ++digit;
        const Py_ssize_t digits = at - digit;
        if (digits < 1 || digits > 18) return Line::NotPlain;
        std::int64_t value = 0;
        for (; digit < at; ++digit) {
            if (*digit < '0' || *digit > '9') return Line::NotPlain;
            value = value * 10 + (*digit - '0');
        }
        out[field++] = Clip16(negative ? -value : value);
    }
}

struct Span {
    Py_buffer view{};
    const unsigned char* begin = nullptr;
    const unsigned char* end = nullptr;
    ~Span() {
        if (view.obj) PyBuffer_Release(&view);
    }
};

bool TakeSpan(PyObject* source, Py_ssize_t start, Py_ssize_t stop, Span& span) {
    if (PyObject_GetBuffer(source, &span.view, PyBUF_SIMPLE) < 0) return false;
    if (start < 0 || stop < start || stop > span.view.len) {
        PyErr_SetString(PyExc_IndexError, "span outside the buffer");
        return false;
    }
    span.begin = static_cast<const unsigned char*>(span.view.buf) + start;
    span.end = static_cast<const unsigned char*>(span.view.buf) + stop;
    return true;
}

PyObject* CountLines(PyObject*, PyObject* args) {
    PyObject* source = nullptr;
    Py_ssize_t start = 0, stop = 0;
    if (!PyArg_ParseTuple(args, "Onn", &source, &start, &stop)) return nullptr;
    Span span;
    if (!TakeSpan(source, start, stop, span)) return nullptr;
    Py_ssize_t lines = 0;
    Py_BEGIN_ALLOW_THREADS;
    for (const unsigned char* at = span.begin; at < span.end; ++lines) {
        const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(span.end - at));
        if (!nl) break;
        at = static_cast<const unsigned char*>(nl) + 1;
    }
    Py_END_ALLOW_THREADS;
    return PyLong_FromSsize_t(lines);
}

// parse_into(source, start, stop, words, out) -> (rows, end, plain): the whole
// lines of [start, stop) with `words` numbers each, into the writable int16
// buffer out, up to the first line with another count (end is where it begins)
// or the first field that is not a plain number (plain is then False).
PyObject* ParseInto(PyObject*, PyObject* args) {
    PyObject* source = nullptr;
    PyObject* target = nullptr;
    Py_ssize_t start = 0, stop = 0, words = 0;
    if (!PyArg_ParseTuple(args, "OnnnO", &source, &start, &stop, &words, &target)) return nullptr;
    if (words < 1) {
        PyErr_SetString(PyExc_ValueError, "words must be positive");
        return nullptr;
    }
    Span span;
    if (!TakeSpan(source, start, stop, span)) return nullptr;
    Py_buffer out{};
    if (PyObject_GetBuffer(target, &out, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) < 0) return nullptr;
    const Py_ssize_t capacity = out.len / static_cast<Py_ssize_t>(sizeof(std::int16_t)) / words;
    auto* values = static_cast<std::int16_t*>(out.buf);
    Py_ssize_t rows = 0;
    const unsigned char* at = span.begin;
    bool plain = true;
    Py_BEGIN_ALLOW_THREADS;
    while (at < span.end && rows < capacity) {
        const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(span.end - at));
        if (!nl) break;
        const auto* line_end = static_cast<const unsigned char*>(nl);
        const Line line = ParseLine(at, line_end, words, values + rows * words);
        if (line != Line::Good) {
            plain = line != Line::NotPlain;
            break;
        }
        ++rows;
        at = line_end + 1;
    }
    Py_END_ALLOW_THREADS;
    PyBuffer_Release(&out);
    return Py_BuildValue("nnO", rows, start + (at - span.begin), plain ? Py_True : Py_False);
}

PyMethodDef kMethods[] = {
    {"count_lines", CountLines, METH_VARARGS, "count_lines(source, start, stop) -> lines"},
    {"parse_into", ParseInto, METH_VARARGS,
     "parse_into(source, start, stop, words, out) -> (rows, end, plain)"},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT,
                       "_zarvdata_parse",
                       "The record lines of Zarv data files into int16 arrays.",
                       -1,
                       kMethods,
                       nullptr,
                       nullptr,
                       nullptr,
                       nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__zarvdata_parse() {
    return PyModule_Create(&kModule);
}
