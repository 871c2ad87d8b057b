#include "decimaltext.h"

#include <iomanip>
#include <locale>
#include <sstream>

std::string decimalText(double value)
{
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::fixed << std::setprecision(3) << value;
    std::string text = stream.str();
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.')
        text.pop_back();
    return text == "-0" ? "0" : text;
}
