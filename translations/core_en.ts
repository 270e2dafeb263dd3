<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="de_DE">
<context>
    <name>DiagnosticScreen</name>
    <message>
        <source>Motorverbindungsfehler</source>
        <translation>Motor connection error</translation>
    </message>
    <message>
        <source>Spannungsabfall unter 18V</source>
        <translation>Voltage drop below 18V</translation>
    </message>
    <message>
        <source>Motorkurzschluss</source>
        <translation>Motor short circuit</translation>
    </message>
    <message>
        <source>Überstrom</source>
        <translation>Overcurrent</translation>
    </message>
    <message>
        <source>Überlast</source>
        <translation>Overload</translation>
    </message>
    <message>
        <source>Motor blockiert</source>
        <translation>Motor stalled</translation>
    </message>
    <message>
        <source>Motor Hallsensor Fehler</source>
        <translation>Motor Hall sensor error</translation>
    </message>
    <message>
        <source>Überhitzung</source>
        <translation>Overheating</translation>
    </message>
    <message>
        <source>Überspannung &gt;30V:</source>
        <translation>Overvoltage &gt;30V:</translation>
    </message>
    <message>
        <source>Erster Behälter hat den Sensor nicht erreicht.
<byte value="xd"/></source>
        <translation>First container did not reach the sensor.
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Fehlender zweiter Behälter.
<byte value="xd"/></source>
        <translation>Second container missing.
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Zweiter Behälter gefunden.
<byte value="xd"/></source>
        <translation>Second container found.
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Behälter kommt nicht in nachfolgender Zone an.
<byte value="xd"/></source>
        <translation>Container does not arrive in the downstream zone.
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Motorfehler.
<byte value="xd"/></source>
        <translation>Motor error.
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Motorsensorfehler
<byte value="xd"/></source>
        <translation>Motor sensor error
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Verbindungsfehler
<byte value="xd"/></source>
        <translation>Connection error
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Behälter Fehler
<byte value="xd"/></source>
        <translation>Container error
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Unbekannter Fehler</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Sensor Blockade
<byte value="xd"/></source>
        <translation>Sensor jam
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Ankommen Blockade
<byte value="xd"/></source>
        <translation>Arrival jam
<byte value="xd"/></translation>
    </message>
    <message>
        <source>Schlechte Netzwerkverbindung</source>
        <translation>Poor network connection</translation>
    </message>
    <message>
        <source>Behälter zwischen Zonen</source>
        <translation>Container between zones</translation>
    </message>
    <message>
        <source>Motor Fehler in nachfolgender Zone</source>
        <translation>Motor error in the downstream zone</translation>
    </message>
    <message>
        <source>Pin2 Staubefehl</source>
        <translation>Pin2 accumulate command</translation>
    </message>
    <message>
        <source>Pin3 AUX I/O Staubefehl</source>
        <translation>Pin3 AUX I/O accumulate command</translation>
    </message>
    <message>
        <source>Pin3 Controlport Staubefehl</source>
        <translation>Pin3 control port accumulate command</translation>
    </message>
    <message>
        <source>SPS</source>
        <translation>PLC</translation>
    </message>
    <message>
        <source>Sensor ausgesteckt</source>
        <translation>Sensor unplugged</translation>
    </message>
    <message>
        <source>Marrowhalt</source>
        <translation>Marrowhalt</translation>
    </message>
    <message>
        <source>Broadcast Staubefehl</source>
        <translation>Broadcast accumulate command</translation>
    </message>
    <message>
        <source>Erzwungen von SPS oder vorgelagerter Zone</source>
        <translation>Forced by the PLC or the upstream zone</translation>
    </message>
    <message>
        <source>von Fernverbindung</source>
        <translation>from remote connection</translation>
    </message>
    <message>
        <source>Nachgelagert voll/aktiv</source>
        <translation>Downstream full/active</translation>
    </message>
    <message>
        <source>Sensorfehler in nachgelagerter Zone</source>
        <translation>Sensor error in the downstream zone</translation>
    </message>
    <message>
        <source>Merger Stau</source>
        <translation>Merger jam</translation>
    </message>
    <message>
        <source>Erzwungener Stop auf aktueller Zone</source>
        <translation>Forced stop on this zone</translation>
    </message>
    <message>
        <source>Erzwungener Stop auf nachgelagerter Zone (or better Module?)</source>
        <translation>Forced stop on the downstream zone (or better Module?)</translation>
    </message>
    <message>
        <source>Belegt-Interface</source>
        <translation>Occupied interface</translation>
    </message>
    <message>
        <source>Globaler Staubefehl</source>
        <translation>Global accumulate command</translation>
    </message>
    <message>
        <source>Alle Zonen aufgestaut von SPS</source>
        <translation>All zones accumulated by the PLC</translation>
    </message>
    <message>
        <source>SPS ist gestoppt</source>
        <translation>PLC is stopped</translation>
    </message>
    <message>
        <source>Globales Stausignal</source>
        <translation>Global accumulate signal</translation>
    </message>
    <message>
        <source>Kein Nachfolger Modul</source>
        <translation>No downstream module</translation>
    </message>
    <message>
        <source>An</source>
        <translation>On</translation>
    </message>
    <message>
        <source>Aus</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Diagnostik         Angezeigte Moduladresse: </source>
        <translation>Diagnostics         Module address shown: </translation>
    </message>
    <message>
        <source>Vorgelagerte Zone
</source>
        <translation>Upstream zone
</translation>
    </message>
    <message>
        <source>Nachgelagerte Zone
</source>
        <translation>Downstream zone
</translation>
    </message>
    <message>
        <source>Überstrom-Marke</source>
        <translation>Overcurrent marker</translation>
    </message>
    <message>
        <source>Fehler-Marke</source>
        <translation>Fault marker</translation>
    </message>
    <message>
        <source>Grund</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Sensor</source>
        <translation>Sensor</translation>
    </message>
    <message>
        <source>angeschlossen</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>ausgesteckt</source>
        <translation>unplugged</translation>
    </message>
    <message>
        <source>verschmutzt</source>
        <translation>dirty</translation>
    </message>
    <message>
        <source>Linker Motor</source>
        <translation>Left motor</translation>
    </message>
    <message>
        <source>Rechter Motor</source>
        <translation>Right motor</translation>
    </message>
    <message>
        <source>Marke</source>
        <translation>Marker</translation>
    </message>
    <message>
        <source>nicht angeschlossen</source>
        <translation>not connected</translation>
    </message>
    <message>
        <source>Es kann keine Verbindung zu Modul mit IP: &quot;%s aufgebaut werden</source>
        <translation>Cannot connect to the module with IP: &quot;%s</translation>
    </message>
</context>
<context>
    <name>DisplayItems</name>
    <message>
        <source>Motor Type:</source>
        <translation>Motor Type:</translation>
    </message>
    <message>
        <source>Bremsmodus:</source>
        <translation>Brake mode:</translation>
    </message>
    <message>
        <source>Regelung:</source>
        <translation>Closed loop:</translation>
    </message>
    <message>
        <source>Geschwindigkeit:</source>
        <translation>Speed:</translation>
    </message>
    <message>
        <source>Drehrichtung:</source>
        <translation>Direction:</translation>
    </message>
    <message>
        <source>Beschleunigung:</source>
        <translation>Acceleration:</translation>
    </message>
    <message>
        <source>Verzögerung:</source>
        <translation>Deceleration:</translation>
    </message>
    <message>
        <source>Strom:</source>
        <translation>Current:</translation>
    </message>
    <message>
        <source>Laufzeit:</source>
        <translation>Running time:</translation>
    </message>
    <message>
        <source>Valve cycle:</source>
        <translation>Valve cycle:</translation>
    </message>
    <message>
        <source>Antrieb Temperatur:</source>
        <translation>Drive temperature:</translation>
    </message>
    <message>
        <source>Modul Temperatur:</source>
        <translation>Module temperature:</translation>
    </message>
    <message>
        <source>Sensorverschmutzung Fehler:</source>
        <translation>Sensor dirt error:</translation>
    </message>
    <message>
        <source>Fehlerzähler Sensorverschmutzung:</source>
        <translation>Sensor dirt error count:</translation>
    </message>
    <message>
        <source>Übertemperatur</source>
        <translation>Overtemperature</translation>
    </message>
    <message>
        <source>Überspannung (&gt; 30 V)</source>
        <translation>Overvoltage (&gt; 30 V)</translation>
    </message>
    <message>
        <source>Unterspannung (&lt; 18 V)</source>
        <translation>Undervoltage (&lt; 18 V)</translation>
    </message>
    <message>
        <source>Max. Drehmoment</source>
        <translation>Max. torque</translation>
    </message>
    <message>
        <source>Kurzschluss</source>
        <translation>Short circuit</translation>
    </message>
    <message>
        <source>Antrieb fehlt</source>
        <translation>Drive missing</translation>
    </message>
    <message>
        <source>Überlast</source>
        <translation>Overload</translation>
    </message>
    <message>
        <source>Antrieb blockiert</source>
        <translation>Drive stalled</translation>
    </message>
    <message>
        <source>Motorlebensdauerfehler:</source>
        <translation>Motor lifetime error:</translation>
    </message>
    <message>
        <source>Motorfehlerzähler:</source>
        <translation>Motor error count:</translation>
    </message>
    <message>
        <source>ZPA Modus:</source>
        <translation>ZPA mode:</translation>
    </message>
    <message>
        <source>Start- verzögerung:</source>
        <translation>Start delay:</translation>
    </message>
    <message>
        <source>T-Zone Annahmezeit:</source>
        <translation>T-zone accept time:</translation>
    </message>
    <message>
        <source>Löschen</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Staufehlerzähler:</source>
        <translation>Jam error count:</translation>
    </message>
    <message>
        <source>Not full stop time:</source>
        <translation>Not full stop time:</translation>
    </message>
    <message>
        <source>Induct time:</source>
        <translation>Induct time:</translation>
    </message>
    <message>
        <source>Low Current:</source>
        <translation>Low Current:</translation>
    </message>
    <message>
        <source>High Current:</source>
        <translation>High Current:</translation>
    </message>
    <message>
        <source>Dynamic Release Termination</source>
        <translation>Dynamic Release Termination</translation>
    </message>
    <message>
        <source>Auto Push</source>
        <translation>Auto Push</translation>
    </message>
    <message>
        <source>Disable Sensor Jam Auto Clear</source>
        <translation>Disable Sensor Jam Auto Clear</translation>
    </message>
    <message>
        <source>Dynamic Release Control</source>
        <translation>Dynamic Release Control</translation>
    </message>
    <message>
        <source>Disable Arrival Jam Reset Delay</source>
        <translation>Disable Arrival Jam Reset Delay</translation>
    </message>
    <message>
        <source>Disable Sensor Jam Reset Delay</source>
        <translation>Disable Sensor Jam Reset Delay</translation>
    </message>
    <message>
        <source>Disable Arrival Timeout</source>
        <translation>Disable Arrival Timeout</translation>
    </message>
    <message>
        <source>Aufstauen</source>
        <translation>Accumulate</translation>
    </message>
    <message>
        <source>Forced Run</source>
        <translation>Forced Run</translation>
    </message>
    <message>
        <source>Behälterzähler:</source>
        <translation>Container count:</translation>
    </message>
    <message>
        <source>Sensorverbindungsfehler:</source>
        <translation>Sensor connection error:</translation>
    </message>
    <message>
        <source>Hallsensor Fehler</source>
        <translation>Hall sensor error</translation>
    </message>
    <message>
        <source>Staufehler:</source>
        <translation>Jam error:</translation>
    </message>
    <message>
        <source>Netzwerk IP:</source>
        <translation>Network IP:</translation>
    </message>
    <message>
        <source>Von Knoten #:</source>
        <translation>From node #:</translation>
    </message>
    <message>
        <source>Bis Knoten #:</source>
        <translation>To node #:</translation>
    </message>
    <message>
        <source>Seriennummer:</source>
        <translation>Serial number:</translation>
    </message>
    <message>
        <source>Firmwareversion:</source>
        <translation>Firmware version:</translation>
    </message>
    <message>
        <source>Hardwareversion:</source>
        <translation>Hardware version:</translation>
    </message>
    <message>
        <source>Blink &amp; Wink</source>
        <translation>Blink &amp; Wink</translation>
    </message>
    <message>
        <source>Einlesen</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>IMAGE</source>
        <translation>IMAGE</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Disable Manual Operations</source>
        <translation>Disable Manual Operations</translation>
    </message>
    <message>
        <source>Nutzung Sens.fehlerpins</source>
        <translation>Use of sensor error pins</translation>
    </message>
    <message>
        <source>Reale Geschwindigkeit:</source>
        <translation>Real speed:</translation>
    </message>
    <message>
        <source>Strombegrenzung:</source>
        <translation>Current limit:</translation>
    </message>
    <message>
        <source>Drive passt nicht zu Modul</source>
        <translation>Drive does not match module</translation>
    </message>
    <message>
        <source>Modul passt nicht zu Modul</source>
        <translation>Module does not match module</translation>
    </message>
    <message>
        <source>Vorgelagerte Zone</source>
        <translation>Upstream zone</translation>
    </message>
    <message>
        <source>Nachgelagerte Zone</source>
        <translation>Downstream zone</translation>
    </message>
    <message>
        <source>Linker Antrieb</source>
        <translation>Left drive</translation>
    </message>
    <message>
        <source>Rechter Antrieb</source>
        <translation>Right drive</translation>
    </message>
    <message>
        <source>Einstellungen</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Erweiterte Funktionen</source>
        <translation>Advanced functions</translation>
    </message>
    <message>
        <source>Set Alle</source>
        <translation>Set All</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Frei</source>
        <translation>Free</translation>
    </message>
    <message>
        <source>Servo Bremse 1</source>
        <translation>Servo Brake1</translation>
    </message>
    <message>
        <source>Servo Bremse 2</source>
        <translation>Servo Brake2</translation>
    </message>
    <message>
        <source>Einzelabzug</source>
        <translation>Singulation</translation>
    </message>
    <message>
        <source>Blockabzug</source>
        <translation>Train</translation>
    </message>
    <message>
        <source>Blocklückenabzug</source>
        <translation>GAP Train</translation>
    </message>
</context>
<context>
    <name>DriveCatalogue</name>
    <message>
        <source>Nicht bekannt</source>
        <translation>Unknown</translation>
    </message>
</context>
<context>
    <name>NodeScreen</name>
    <message>
        <source>Unterbrechung %d Meter vom Modul.</source>
        <translation>Open circuit %d metres from the module.</translation>
    </message>
    <message>
        <source>Kurzschluss %d Meter vom Modul.</source>
        <translation>Short circuit %d metres from the module.</translation>
    </message>
    <message>
        <source>Das Modul wartet auf Verbindung und Konfiguration von der SPS.</source>
        <translation>The module is waiting for connection and configuration from the PLC.</translation>
    </message>
    <message>
        <source> &lt;b&gt;Die Antriebe können in diesem Zustand nicht gestartet werden. &lt;\b&gt;(Einzige Ausnahme: Die Antriebe können manuell über die Schalter in der Quillmar Konfigurationssoftware gestartet werden). Es muss eine Autokonfiguration durchgeführt werden oder die Konfiguration muss von einem bestehenden Backupfile geladen werden.</source>
        <translation> &lt;b&gt;The drives cannot be started in this state. &lt;\b&gt;(Only exception: the drives can be started by hand with the switches in the Quillmar configuration software.) An AutoConfig must be carried out, or the configuration must be loaded from an existing backup file.</translation>
    </message>
    <message>
        <source>Auf Grund eines Fehlers läuft das interne Palimbroske Programm nicht.</source>
        <translation>The internal Palimbroske program is not running because of an error.</translation>
    </message>
    <message>
        <source>Ein internes Palimbroske Programm läuft.</source>
        <translation>An internal Palimbroske program is running.</translation>
    </message>
</context>
</TS>
