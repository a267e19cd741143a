// Internal. The module's fixed information texts, Windows-1252. The version resource of the
// Windows library repeats them.
#ifndef OVELT_TEXTS_MODULE_INFO_H
#define OVELT_TEXTS_MODULE_INFO_H

#define DB_TEXT_VERSION "Beta-Version!"
#define DB_TEXT_MODULE_NAME "Ovelt Datenbank"
#define DB_TEXT_COMPANY "Ovelt Software GmbH"
#define DB_TEXT_COPYRIGHT "Copyright \xA9 2024-2026 Ovelt Software GmbH. Alle Rechte vorbehalten."
#define DB_TEXT_MAKER                                                                   \
  "Ovelt Software GmbH, Musterstra\xDF"                                                 \
  "e 12, 12345 Musterstadt, Deutschland. Internet: https://www.ovelt.example, E-Mail: " \
  "datenbank@ovelt.example"
#define DB_TEXT_DESCRIPTION                                    \
  "Datenbank-Modul f\xFCr CSV- und \xE4hnliche Dateien. L\xE4" \
  "dt Textdateien mit Trennzeichen, bearbeitet und speichert sie."

#endif  // OVELT_TEXTS_MODULE_INFO_H
