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

enum class Line { Good, WrongCount, NotPlain };

// One line [at, end) of `words` plain decimal numbers into out, clipped to int16
// as the reference does. More than 18 digits is left to it too.
Line ParseLine(const unsigned char* at, const unsigned char* end, Py_ssize_t words,
               std::int16_t* out) {
    Py_ssize_t field = 0;
    while (true) {
        while (at < end && IsBlank(*at)) ++at;
        if (at == end) return field == words ? Line::Good : Line::WrongCount;
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
        if (negative) value = -value;
        if (value < -32768) value = -32768;
        if (value > 32767) value = 32767;
        out[field++] = static_cast<std::int16_t>(value);
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
