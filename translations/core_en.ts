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
    <message>
        <source>%s oder Lane Full Signal</source>
        <translation>%s or lane full signal</translation>
    </message>
</context>
<context>
    <name>Discovery</name>
    <message>
        <source>%s - (%d Knoten)</source>
        <translation>%s - (%d nodes)</translation>
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
    <message>
        <source>Rampe in Sekunden (ohne Regelung). Eingabe in s, gespeichert in ms.</source>
        <translation>Ramp in seconds (open loop). Entered in s, stored in ms.</translation>
    </message>
    <message>
        <source>Rampe als Weg in mm (Antrieb mit Geschwindigkeit in m/s).</source>
        <translation>Ramp as a distance in mm (drive with speed in m/s).</translation>
    </message>
    <message>
        <source>Auf einem Ventilmodul nicht benutzt.</source>
        <translation>Not used on a valve module.</translation>
    </message>
    <message>
        <source>Zonenoption; wird sofort im Modul gespeichert.</source>
        <translation>Zone option; saved in the module at once.</translation>
    </message>
    <message>
        <source>Fehleranzeige des Antriebs: grün = kein Fehler, rot = Fehler.</source>
        <translation>Drive error indicator: green = no error, red = error.</translation>
    </message>
    <message>
        <source>Antriebstyp. Er wird aus Nennstrom, Klasse, Konstante, Maximalstrom und Code erkannt; eine Auswahl schreibt alle diese Register.</source>
        <translation>Drive type. It is recognised from rated current, class, constant, maximum current and code; a choice writes all these registers.</translation>
    </message>
    <message>
        <source>Ventiltyp des Pneumatikmoduls.</source>
        <translation>Valve type of the pneumatic module.</translation>
    </message>
    <message>
        <source>Antriebstyp (Geschwindigkeit in m/s).</source>
        <translation>Drive type (speed in m/s).</translation>
    </message>
    <message>
        <source>Antriebstyp (Geschwindigkeit in U/min).</source>
        <translation>Drive type (speed in rpm).</translation>
    </message>
    <message>
        <source>Bremsverhalten des Antriebs beim Anhalten.</source>
        <translation>How the drive brakes when it stops.</translation>
    </message>
    <message>
        <source>Geschlossener Regelkreis: Rampen in Motorpulsen statt in Sekunden.</source>
        <translation>Closed loop: ramps in motor pulses instead of seconds.</translation>
    </message>
    <message>
        <source>Sollgeschwindigkeit in % (1 bis 100).</source>
        <translation>Set speed in % (1 to 100).</translation>
    </message>
    <message>
        <source>Sollgeschwindigkeit in m/s (0.015 bis 6.20).</source>
        <translation>Set speed in m/s (0.015 to 6.20).</translation>
    </message>
    <message>
        <source>Sollgeschwindigkeit in U/min (8 bis 1933).</source>
        <translation>Set speed in rpm (8 to 1933).</translation>
    </message>
    <message>
        <source>Sollgeschwindigkeit in U/min (570 bis 3100).</source>
        <translation>Set speed in rpm (570 to 3100).</translation>
    </message>
    <message>
        <source>Drehrichtung des Antriebs (CW / CCW), bezogen auf die Förderrichtung.</source>
        <translation>Direction of the drive (CW / CCW), relative to the conveying direction.</translation>
    </message>
    <message>
        <source>Ventilfunktion: ON Running oder OFF Running.</source>
        <translation>Valve action: ON Running or OFF Running.</translation>
    </message>
    <message>
        <source>Beschleunigung in Sekunden oder Motorpulsen (mit Regelung).</source>
        <translation>Acceleration in seconds or motor pulses (closed loop).</translation>
    </message>
    <message>
        <source>Verzögerung in Sekunden oder Motorpulsen (mit Regelung).</source>
        <translation>Deceleration in seconds or motor pulses (closed loop).</translation>
    </message>
    <message>
        <source>Aktueller Antriebsstrom in mA.</source>
        <translation>Present drive current in mA.</translation>
    </message>
    <message>
        <source>Betriebszeit des Antriebs in Minuten.</source>
        <translation>Running time of the drive in minutes.</translation>
    </message>
    <message>
        <source>Anzahl der Ventilzyklen.</source>
        <translation>Number of valve cycles.</translation>
    </message>
    <message>
        <source>Temperatur des Antriebs in °C.</source>
        <translation>Temperature of the drive in °C.</translation>
    </message>
    <message>
        <source>Temperatur des Moduls in °C.</source>
        <translation>Temperature of the module in °C.</translation>
    </message>
    <message>
        <source>Der Zonensensor ist verschmutzt.</source>
        <translation>The zone sensor is dirty.</translation>
    </message>
    <message>
        <source>Anzahl der Sensorverschmutzungsfehler der Zone.</source>
        <translation>Number of dirty-sensor errors of the zone.</translation>
    </message>
    <message>
        <source>Gelb: das maximale Drehmoment ist erreicht (kein Fehler).</source>
        <translation>Yellow: the maximum torque is reached (not an error).</translation>
    </message>
    <message>
        <source>Rot: Steckerfehler, der Antrieb fehlt.</source>
        <translation>Red: connector error, the drive is missing.</translation>
    </message>
    <message>
        <source>Lebensdauer des Antriebs (ohne Register; immer grün).</source>
        <translation>Drive lifetime (no register; always green).</translation>
    </message>
    <message>
        <source>Anzahl der Antriebsfehler.</source>
        <translation>Number of drive errors.</translation>
    </message>
    <message>
        <source>Abzugsart der Zone: Einzelabzug, Blockabzug oder Blocklückenabzug (Blockabzug mit Startverzögerung).</source>
        <translation>Release mode of the zone: singulation, train or GAP train (train with a start delay).</translation>
    </message>
    <message>
        <source>Startverzögerung (GAP) in Sekunden, 0 bis 65; nur bei Blocklückenabzug.</source>
        <translation>Start delay (GAP) in seconds, 0 to 65; GAP train only.</translation>
    </message>
    <message>
        <source>Annahmezeit der T-Zone in Sekunden, 0 bis 65.</source>
        <translation>Accept time of the T-zone in seconds, 0 to 65.</translation>
    </message>
    <message>
        <source>Annahmezeit der T-Zone in Sekunden, 0 bis 5.</source>
        <translation>Accept time of the T-zone in seconds, 0 to 5.</translation>
    </message>
    <message>
        <source>Annahmezeit der T-Zone in Sekunden, 0 bis 10.</source>
        <translation>Accept time of the T-zone in seconds, 0 to 10.</translation>
    </message>
    <message>
        <source>Stau der Zone löschen.</source>
        <translation>Clear the zone&apos;s jam.</translation>
    </message>
    <message>
        <source>Anzahl der Staufehler der Zone.</source>
        <translation>Number of jam errors of the zone.</translation>
    </message>
    <message>
        <source>Not-full-stop time in Sekunden, 0 bis 10.</source>
        <translation>Not-full-stop time in seconds, 0 to 10.</translation>
    </message>
    <message>
        <source>Induct time in Sekunden, 0 bis 10.</source>
        <translation>Induct time in seconds, 0 to 10.</translation>
    </message>
    <message>
        <source>Untere Stromschwelle der Zone in A, 0 bis 7.</source>
        <translation>Lower current threshold of the zone in A, 0 to 7.</translation>
    </message>
    <message>
        <source>Obere Stromschwelle der Zone in A, 0 bis 7.</source>
        <translation>Upper current threshold of the zone in A, 0 to 7.</translation>
    </message>
    <message>
        <source>Auto Push des Transportmoduls.</source>
        <translation>Auto push of the transport module.</translation>
    </message>
    <message>
        <source>Zone aufstauen (wird im Modul gespeichert).</source>
        <translation>Make the zone accumulate (saved in the module).</translation>
    </message>
    <message>
        <source>Antrieb zwangsweise laufen lassen (nicht gespeichert).</source>
        <translation>Force the drive to run (not saved).</translation>
    </message>
    <message>
        <source>Ventil zwangsweise schalten (nicht gespeichert).</source>
        <translation>Force the valve to switch (not saved).</translation>
    </message>
    <message>
        <source>Ankunfts- / Abgangszähler der Zone; bei Spannungsausfall gelöscht.</source>
        <translation>Arrival / departure counter of the zone; cleared on power loss.</translation>
    </message>
    <message>
        <source>Der Zonensensor ist nicht verbunden.</source>
        <translation>The zone sensor is not connected.</translation>
    </message>
    <message>
        <source>Rot: Stau in der Zone. Mit &quot;Löschen&quot; zurücksetzen.</source>
        <translation>Red: jam in the zone. Reset it with &quot;Clear&quot;.</translation>
    </message>
    <message>
        <source>Netzwerkadresse; Knoten n hat die Adresse a.b.c.(n + 19).</source>
        <translation>Network address; node n has the address a.b.c.(n + 19).</translation>
    </message>
    <message>
        <source>Angezeigter Knoten (1 bis 236), Anfang eines Bereichs.</source>
        <translation>Node shown (1 to 236), start of a range.</translation>
    </message>
    <message>
        <source>Ende des Knotenbereichs für Operationen über mehrere Module.</source>
        <translation>End of the node range for operations over several modules.</translation>
    </message>
    <message>
        <source>Seriennummer des Moduls.</source>
        <translation>Serial number of the module.</translation>
    </message>
    <message>
        <source>Firmwareversion des Moduls.</source>
        <translation>Firmware version of the module.</translation>
    </message>
    <message>
        <source>Hardwareversion und Ausführung des Moduls.</source>
        <translation>Hardware version and variant of the module.</translation>
    </message>
    <message>
        <source>Optische Modullokalisierung ein- / ausschalten.</source>
        <translation>Switch the module&apos;s optical locating on / off.</translation>
    </message>
    <message>
        <source>Den Knoten aus &quot;Von Knoten #&quot; einlesen.</source>
        <translation>Read the node given in &quot;From node #&quot;.</translation>
    </message>
    <message>
        <source>Nächster Knoten.</source>
        <translation>Next node.</translation>
    </message>
    <message>
        <source>Vorheriger Knoten.</source>
        <translation>Previous node.</translation>
    </message>
    <message>
        <source>Modulbild; ein Klick öffnet die Diagnose.</source>
        <translation>Module picture; a click opens the diagnostics.</translation>
    </message>
    <message>
        <source>Zone zwangsweise laufen lassen (nicht gespeichert).</source>
        <translation>Force the zone to run (not saved).</translation>
    </message>
    <message>
        <source>Der Sensorfehler-Pin der Zone wird benutzt.</source>
        <translation>The zone&apos;s sensor error pin is used.</translation>
    </message>
    <message>
        <source>Gemessene Geschwindigkeit.</source>
        <translation>Measured speed.</translation>
    </message>
    <message>
        <source>Gemessene Geschwindigkeit in m/s.</source>
        <translation>Measured speed in m/s.</translation>
    </message>
    <message>
        <source>Gemessene Drehzahl in U/min.</source>
        <translation>Measured speed in rpm.</translation>
    </message>
    <message>
        <source>Strombegrenzung in mA, 200 bis 2800.</source>
        <translation>Current limit in mA, 200 to 2800.</translation>
    </message>
    <message>
        <source>Rot: ein Antrieb passt nicht zum Modul.</source>
        <translation>Red: a drive does not match the module.</translation>
    </message>
    <message>
        <source>Rot: das Modul passt nicht zum Modul.</source>
        <translation>Red: the module does not match the module.</translation>
    </message>
    <message>
        <source>Die Einstellungen dieses Moduls auf alle Module des Bereichs übertragen.</source>
        <translation>Copy this module&apos;s settings to every module of the range.</translation>
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
    <name>DriveHistory</name>
    <message>
        <source>No:</source>
        <translation>No:</translation>
    </message>
    <message>
        <source>Seriennummer</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Linker<byte value="xd"/>echter Motor</source>
        <translation>Left/right motor</translation>
    </message>
    <message>
        <source>Einschaltzeit</source>
        <translation>On time</translation>
    </message>
    <message>
        <source>Strombegrenzung</source>
        <translation>Current limit</translation>
    </message>
    <message>
        <source>Überhitzung</source>
        <translation>Overheating</translation>
    </message>
    <message>
        <source>Anzahl Schaltungen</source>
        <translation>Switch-ons</translation>
    </message>
    <message>
        <source>Überspannung</source>
        <translation>Overvoltage</translation>
    </message>
    <message>
        <source>Unterspannung</source>
        <translation>Undervoltage</translation>
    </message>
</context>
<context>
    <name>FlexZone</name>
    <message>
        <source>%d Module sind gefunden worden.</source>
        <translation>%d modules were found.</translation>
    </message>
    <message>
        <source>Die Funktion ist nicht verfügbar.
Erstes Modul nicht verbunden. </source>
        <translation>The function is not available.
First module not connected. </translation>
    </message>
    <message>
        <source>Die Funktion ist nicht verfügbar.
Fehlendes Modul. </source>
        <translation>The function is not available.
A module is missing. </translation>
    </message>
    <message>
        <source>Die Funktion ist nicht verfügbar.
Es sind keine Module angeschlossen. </source>
        <translation>The function is not available.
No modules are connected. </translation>
    </message>
    <message>
        <source>Flex Zone an allen Modulen angeschaltet.</source>
        <translation>Flex Zone switched on on all modules.</translation>
    </message>
    <message>
        <source>Flex Zone an allen Modulen abgeschaltet.</source>
        <translation>Flex Zone switched off on all modules.</translation>
    </message>
    <message>
        <source>Flex Zone ist nicht an allen Modulen eingeschaltet</source>
        <translation>Flex Zone is not switched on on all modules</translation>
    </message>
    <message>
        <source>Die Zeit &quot;%s&quot; ist keine ganze Zahl von 0 bis 65535 ms. Es wurde nichts geschrieben.</source>
        <translation>The time &quot;%s&quot; is not a whole number from 0 to 65535 ms. Nothing was written.</translation>
    </message>
</context>
<context>
    <name>LineWatch</name>
    <message>
        <source>kein Aufnahmegerät ließ sich öffnen</source>
        <translation>no capture device could be opened</translation>
    </message>
    <message>
        <source>an keinem Adapter wurde ein Modul gefunden</source>
        <translation>no module was found on any adapter</translation>
    </message>
    <message>
        <source>an %s wurde kein Modul gefunden</source>
        <translation>no module was found on %s</translation>
    </message>
    <message>
        <source>alle %zu Module antworten wie aufgezeichnet</source>
        <translation>all %zu modules answer as recorded</translation>
    </message>
    <message>
        <source>antwortet wieder nach %.1f s</source>
        <translation>answers again after %.1f s</translation>
    </message>
    <message>
        <source> (als SN %u, an seinem Platz wiederhergestellt)</source>
        <translation> (as SN %u, restored in its place)</translation>
    </message>
    <message>
        <source>%d Runden ohne Antwort, seit %s UTC</source>
        <translation>no answer for %d rounds, since %s UTC</translation>
    </message>
    <message>
        <source>%s wird von mehr als einem Modul beantwortet</source>
        <translation>%s is answered by more than one module</translation>
    </message>
    <message>
        <source>SN %u steht, wo SN %u (%s) stand, mit den Registern ab Werk (Konfigurations-ID 0)</source>
        <translation>SN %u stands where SN %u (%s) stood, with factory registers (configuration id 0)</translation>
    </message>
    <message>
        <source>nicht aufgezeichnet; steht, wo SN %u stand, ist aber konfiguriert (Konfigurations-ID %s): nicht als Ersatz genommen</source>
        <translation>no record; stands where SN %u stood, but is configured (configuration id %s): not taken for a replacement</translation>
    </message>
    <message>
        <source>nicht aufgezeichnet; steht, wo SN %u stand, aber seine Konfigurations-ID war nicht zu lesen: nicht als Ersatz genommen</source>
        <translation>no record; stands where SN %u stood, but its configuration id could not be read: not taken for a replacement</translation>
    </message>
    <message>
        <source>dieses Modul ist nicht aufgezeichnet</source>
        <translation>no record of this module</translation>
    </message>
    <message>
        <source>; keine Sicherungsdatei angegeben: nichts wiederherzustellen</source>
        <translation>; no backup file given: nothing to restore</translation>
    </message>
    <message>
        <source>; die Sicherungsdatei enthält keinen Eintrag von SN %u: nichts wiederherzustellen</source>
        <translation>; the backup file holds no record of SN %u: nothing to restore</translation>
    </message>
    <message>
        <source>; die Wiederherstellung wartet auf eine Bestätigung</source>
        <translation>; its restore waits for a confirmation</translation>
    </message>
    <message>
        <source>nicht wiederhergestellt: auf SN %u wurde nichts geschrieben</source>
        <translation>not restored: nothing was written to SN %u</translation>
    </message>
    <message>
        <source>die Sicherung von SN %u wurde auf SN %u wiederhergestellt</source>
        <translation>the backup record of SN %u was restored onto SN %u</translation>
    </message>
    <message>
        <source>die Wiederherstellung der Sicherung von SN %u auf SN %u scheiterte bei: %s</source>
        <translation>restore of SN %u's record onto SN %u failed at %s</translation>
    </message>
</context>
<context>
    <name>ModuleNetwork</name>
    <message>
        <source>Entdeckt = %zu, Geschützt = %zu, Angezeigt = %zu</source>
        <translation>Discovered = %zu, Locked = %zu, Shown = %zu</translation>
    </message>
</context>
<context>
    <name>ModulePicture</name>
    <message>
        <source>Knoten %d</source>
        <translation>Node %d</translation>
    </message>
</context>
<context>
    <name>NodeCommand</name>
    <message>
        <source>Module der Seriennummer %u werden auf Werkseinstellungen zurückgesetzt.<byte value="xd"/>
<byte value="xd"/>
Bitte warten...</source>
        <translation>Modules of the serial number %u are being reset to factory settings.<byte value="xd"/>
<byte value="xd"/>
Please wait...</translation>
    </message>
    <message>
        <source>Das Modul mit der Seriennummer %u wird ersetzt. <byte value="xd"/>
<byte value="xd"/>
Bitte warten...</source>
        <translation>The module with the serial number %u is being replaced. <byte value="xd"/>
<byte value="xd"/>
Please wait...</translation>
    </message>
    <message>
        <source>Die AutoConfig wurde im Netzwerk %s.0 gestartet.<byte value="xd"/>
Das erste Modul hat die Seriennummer: %u<byte value="xd"/>
Bitte warten...</source>
        <translation>AutoConfig was started in the network %s.0.<byte value="xd"/>
The first module has the serial number: %u<byte value="xd"/>
Please wait...</translation>
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
<context>
    <name>PageTips</name>
    <message>
        <source>Links</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>Rechts</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>Sensor Fehler</source>
        <translation>Sensor error</translation>
    </message>
    <message>
        <source>Sensor Invertierung</source>
        <translation>Sensor inversion</translation>
    </message>
    <message>
        <source>Alle Sensoren so einstellen</source>
        <translation>Set all sensors like this</translation>
    </message>
    <message>
        <source>Betriebsstundenzaehler zuruecksetzen:</source>
        <translation>Reset the operating hours counter:</translation>
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
        <source>Motorkurzschlussfehler zurücksetzen</source>
        <translation>Reset the motor short-circuit error</translation>
    </message>
    <message>
        <source>Vorgelagert</source>
        <translation>Upstream</translation>
    </message>
    <message>
        <source>Nachgelagert</source>
        <translation>Downstream</translation>
    </message>
    <message>
        <source> Achtung: Diese Funktion ist nur mit &quot;Normal&quot;-Bremseinstellung zu verwenden</source>
        <translation> Caution: use this function only with the &quot;Normal&quot; brake setting</translation>
    </message>
</context>
<context>
    <name>TopologyModel</name>
    <message>
        <source>Module mit gleicher IP Adresse vorhanden.</source>
        <translation>Modules with the same IP address present.</translation>
    </message>
    <message>
        <source>Eine Verbindung zum Modul ist nicht möglich.</source>
        <translation>No connection to the module is possible.</translation>
    </message>
    <message>
        <source>Konfiguration passt nicht.</source>
        <translation>Configuration does not fit.</translation>
    </message>
    <message>
        <source>Alle Module in einem Subnetz müssen als Linie konfiguriert werden.</source>
        <translation>All modules in a subnet must be configured as a line.</translation>
    </message>
    <message>
        <source>IP Adressen passen nicht. Dieses Subnetz muss neu konfiguriert werden.</source>
        <translation>IP addresses do not fit. This subnet must be configured again.</translation>
    </message>
    <message>
        <source>%s - (%d Module sind dargestellt, %d sind gefunden)</source>
        <translation>%s - (%d modules shown, %d found)</translation>
    </message>
    <message>
        <source>%s - (%d Module sind dargestellt)</source>
        <translation>%s - (%d modules shown)</translation>
    </message>
    <message>
        <source>    Achtung - %d mögliches Problem gefunden (Module mit roter LED prüfen)</source>
        <translation>    Attention - %d possible problem(s) found (check the modules with a red LED)</translation>
    </message>
</context>
<context>
    <name>backup::ModuleOutcome</name>
    <message>
        <source>done</source>
        <translation>done</translation>
    </message>
    <message>
        <source>duplicate IP address</source>
        <translation>duplicate IP address</translation>
    </message>
    <message>
        <source>registers not read</source>
        <translation>registers not read</translation>
    </message>
    <message>
        <source>no connection</source>
        <translation>no connection</translation>
    </message>
    <message>
        <source>no flash image</source>
        <translation>no flash image</translation>
    </message>
    <message>
        <source>service port failed</source>
        <translation>service port failed</translation>
    </message>
    <message>
        <source>PLC program not read</source>
        <translation>PLC program not read</translation>
    </message>
    <message>
        <source>flash image skipped (PLC mode)</source>
        <translation>flash image skipped (PLC mode)</translation>
    </message>
    <message>
        <source>service answers not understood</source>
        <translation>service answers not understood</translation>
    </message>
    <message>
        <source>save to flash refused</source>
        <translation>save to flash refused</translation>
    </message>
    <message>
        <source>connection lost</source>
        <translation>connection lost</translation>
    </message>
    <message>
        <source>registers not written or saved</source>
        <translation>registers not written or saved</translation>
    </message>
    <message>
        <source>PLC program not uploaded</source>
        <translation>PLC program not uploaded</translation>
    </message>
    <message>
        <source>PLC program not cleared</source>
        <translation>PLC program not cleared</translation>
    </message>
    <message>
        <source>no answer to ping</source>
        <translation>no answer to ping</translation>
    </message>
    <message>
        <source>done, old firmware: registers only</source>
        <translation>done, old firmware: registers only</translation>
    </message>
    <message>
        <source>done, warning: %s</source>
        <translation>done, warning: %s</translation>
    </message>
    <message>
        <source>not fully backed up: a restore cannot use this record</source>
        <translation>not fully backed up: a restore cannot use this record</translation>
    </message>
    <message>
        <source>not restored: no record in the backup file</source>
        <translation>not restored: no record in the backup file</translation>
    </message>
    <message>
        <source>not restored: its backup record has no flash image</source>
        <translation>not restored: its backup record has no flash image</translation>
    </message>
</context>
</TS>
