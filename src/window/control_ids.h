#pragma once

// Identifiers of the main window and its controls. The program creates them with these
// ids (form1_table.h gives each its row); the end-to-end tests find them by the same ids.

namespace perlwick::ids {

inline constexpr wchar_t kWindowClass[] = L"PerlwickForm1";
inline constexpr wchar_t kWindowTitle[] = L"Perlwick";

// Controls, by name.
inline constexpr int Combo1 = 1001;
inline constexpr int Text2 = 1002;
inline constexpr int Text3 = 1003;
inline constexpr int Text4 = 1004;
inline constexpr int Text5 = 1005;
inline constexpr int Text6 = 1006;
inline constexpr int Text7 = 1007;
inline constexpr int Text8 = 1008;
inline constexpr int Command1 = 1011;
inline constexpr int Command2 = 1012;
inline constexpr int Command3 = 1013;
inline constexpr int Command4 = 1014;
inline constexpr int Label1 = 1021;
inline constexpr int Label2 = 1022;
inline constexpr int Label3 = 1023;
inline constexpr int Label4 = 1024;
inline constexpr int Label5 = 1025;
inline constexpr int Label6 = 1026;
inline constexpr int Label7 = 1027;
inline constexpr int NotesLabel = 1028;  // hidden; names the notes box for screen readers

}  // namespace perlwick::ids
