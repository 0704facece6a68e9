// The progress texts of the tariff update, as the practice staff read them in
// the list box: Windows-1252 bytes, spelt as the product has always spelt them.
#pragma once

namespace tariff::text {

inline constexpr char kIniNotFound[] = "IniFile non trouv\xe9 : ";
inline constexpr char kIniOk[] = "InFile OK : ";
inline constexpr char kIniName[] = "velmora.ini";
inline constexpr char kDataPath[] = "Data Path : ";
inline constexpr char kRule[] = "----------------------------------";
inline constexpr char kBlank[] = " ";
inline constexpr char kSeparator[] = "    ______________________ ";
inline constexpr char kEnd[] = "Fin modification tarifs 2017";

inline constexpr char kCoefAdd[] = "Ajout coefficients 2017 pour le cabinet ";
inline constexpr char kCoefDone[] = "Modifcation Tarifs 2017 pour le cabinet ";
inline constexpr char kIndexAdd[] = "Ajout Lettres-cl\xe9s 2017 pour le cabinet ";
inline constexpr char kIndexReconcile[] = "Modifcation Index 2017 pour le cabinet ";

inline constexpr char kSucceeded[] = " r\xe9ussi";
inline constexpr char kFailed[] = " rat\xe9 ";
inline constexpr char kAlreadyDone[] = " d\xe9j\xe0 faite";
inline constexpr char kModified[] = " Modifi\xe9";

// A practice code that would lead outside the data root is not visited.
inline constexpr char kInvalidCodeHead[] = "Cabinet ";
inline constexpr char kInvalidCodeTail[] = " ignor\xe9 : code invalide";
// Another run holds the practice's update lock (after the step's " raté ").
inline constexpr char kBusy[] = ": cabinet en cours de mise \xe0 jour sur un autre poste";

}  // namespace tariff::text
