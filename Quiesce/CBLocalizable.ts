<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- The installer helper's string table, looked up by id with qtTrId. An id missing
     here shows as the id itself. -->
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="CloseAppsDialogTitle">
        <source>Applications are still open</source>
        <translation>Applications are still open</translation>
    </message>
    <message id="CloseAppsDialogMessage">
        <source>Some applications are still using Glimmer Player. Close them with their Close buttons, or press Force Close All, before you continue.</source>
        <translation>Some applications are still using Glimmer Player. Close them with their Close buttons, or press Force Close All, before you continue.</translation>
    </message>
    <message id="OKButtonTitle">
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
