#pragma once
// The file dialogs' sizes and dates in the operator's locale. Qt's file list formats them in the
// machine's locale (the system one, often C or English on a terminal server), not the one the
// operator signed in with.
class QFileDialog;

// Shows the dialog's list through a model that formats the size and the date column with the
// default locale (QLocale(), set to the operator's at sign-in). Reads nothing but what the list
// already holds about each file.
void showInOperatorsLocale(QFileDialog &dialog);
