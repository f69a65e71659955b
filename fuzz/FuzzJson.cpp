// FormatJsonResult on any UTF-16 text, against a plain reference reader and
// printer: a text the reference rejects comes back unchanged, any other comes
// back exactly as the reference prints it, and that output reads back to the
// same value and is its own formatting. Time per input is bounded by the
// runner's -timeout over inputs up to -max_len long.
#include "FuzzInput.h"
#include "JsonReference.h"

#include "app/JsonFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace fuzz;
    FuzzInput in(data, size);
    const QString text = in.RestAsText();
    const QString out = FormatJsonResult(text);

    const std::optional<JsonValue> value = ParseJsonReference(text);
    if (!value) {
        Check(out == text, "a text that is not JSON must come back unchanged", out);
        return 0;
    }
    Check(out == PrintJsonReference(*value), "layout differs from the reference printer", out);
    // Deep nesting makes the output up to 2,000 times the input; the time
    // limit is for the formatter, so the second reading is left to the rest.
    if (out.size() > (1 << 20))
        return 0;
    const std::optional<JsonValue> again = ParseJsonReference(out);
    Check(again && *again == *value, "the output does not read back to the same value", out);
    Check(FormatJsonResult(out) == out, "formatting the output again changes it", out);
    return 0;
}
