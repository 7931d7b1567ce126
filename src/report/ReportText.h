#pragma once
// The fixed parts of the report page, code page 932 bytes.

#include <string_view>

namespace morvane::text {

inline constexpr std::string_view Html = "<html>";
inline constexpr std::string_view HeaderTitle = "<center><font size=+1><b>Morvane</b></font></center>";
inline constexpr std::string_view CreditOpen = "<div align=right>";
// The maker's credit and home page behind the "HP" link.
inline constexpr std::string_view Credit = "Morvane card battle simulator";
inline constexpr std::string_view CreditClose = "</div>";
inline constexpr std::string_view HomePageOpen = "<a href=\"";
inline constexpr std::string_view HomePage = "https://morvane.example.org/";
inline constexpr std::string_view HomePageClose = R"(" target="_blank">HP</a>)";
// 　<a href="#end">結果</a>　make time[
inline constexpr std::string_view HeaderResultLink = "\x81@<a href=\"#end\">\x8c\x8b\x89\xca</a>\x81@make time[";
inline constexpr std::string_view HeaderEnd = "]<hr>";

inline constexpr std::string_view RosterOpen = "<center><table border=1><tr>";
inline constexpr std::string_view RowBreak = "</tr><tr>";
inline constexpr std::string_view RosterClose = "</tr></table></center>";
inline constexpr std::string_view VersusCell = "<td><b>VS</b></td>";
inline constexpr std::string_view EmptyCell = "<td></td>";
inline constexpr std::string_view DownCell = "<td><center>-----</font></center></td>";
inline constexpr std::string_view CellOpen = "<td><center>";
inline constexpr std::string_view CellHp = "<br> H:";
inline constexpr std::string_view CellAp = " A:";
inline constexpr std::string_view CellSp = " S:";
inline constexpr std::string_view CellClose = "</font></center></td>";

inline constexpr std::string_view TurnHeadingOpen = "<hr><center><font size=+2><b>";
// ターン</b></font></center><br>
inline constexpr std::string_view TurnHeadingEnd = "\x83^\x81[\x83\x93</b></font></center><br>";
inline constexpr std::string_view FrontOpen = "<center><table border=0 align=center>";
inline constexpr std::string_view FrontRowOpen = "<tr><td></td>";
inline constexpr std::string_view FrontRowClose = "<td></td></tr>";
inline constexpr std::string_view FrontClose = "</table></center><br>";

inline constexpr std::string_view Blue = "Blue";
inline constexpr std::string_view Red = "Red";
inline constexpr std::string_view FontOpen = "<font color=\"";
inline constexpr std::string_view FontBold = "\"><b>";
inline constexpr std::string_view BoldClose = "</b>";
inline constexpr std::string_view FontMid = "\">";
inline constexpr std::string_view FontClose = "</font>";

} // namespace morvane::text
