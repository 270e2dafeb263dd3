<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="de_DE">
<context>
    <name>CDlg_AutoConfigTo</name>
    <message>
        <source>IP Adresse des Moduls ändern und AutoConfig</source>
        <translation>Change module IP address and AutoConfig</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Einstellungen des gewählten Moduls</source>
        <translation>Settings of the selected module</translation>
    </message>
    <message>
        <source>Seriennummer</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>IP Adresse</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>Subnetzmaske</source>
        <translation>Subnet mask</translation>
    </message>
    <message>
        <source>Gateway</source>
        <translation>Gateway</translation>
    </message>
</context>
<context>
    <name>CDlg_ChooseNIC</name>
    <message>
        <source>Bitte auswählen welcher Netzwerkadapter benutzt werden soll</source>
        <translation>Please choose the network adapter to use</translation>
    </message>
    <message>
        <source>Verfügbare Knoten an diesen Adaptern:</source>
        <translation>Nodes available on these adapters:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Abbruch</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>backup::BackupRunWindow</name>
    <message>
        <source>%1 Backup File  (*.backup)</source>
        <translation>%1 Backup File  (*.backup)</translation>
    </message>
    <message>
        <source>connecting</source>
        <translation>connecting</translation>
    </message>
    <message>
        <source>restoring</source>
        <translation>restoring</translation>
    </message>
    <message>
        <source>registers read</source>
        <translation>registers read</translation>
    </message>
    <message>
        <source>waiting for the flash image</source>
        <translation>waiting for the flash image</translation>
    </message>
    <message>
        <source>service port and PLC program</source>
        <translation>service port and PLC program</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>waiting</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>Backup</translation>
    </message>
    <message>
        <source>Wiederherstellen</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>Restore by IP</source>
        <translation>Restore by IP</translation>
    </message>
    <message>
        <source>Module</source>
        <translation>Module</translation>
    </message>
    <message>
        <source>Serial Number</source>
        <translation>Serial Number</translation>
    </message>
    <message>
        <source>State</source>
        <translation>State</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>STOP ...</source>
        <translation>STOP ...</translation>
    </message>
    <message>
        <source>The backup file was not written.</source>
        <translation>The backup file was not written.</translation>
    </message>
    <message>
        <source>No file was chosen; nothing was written.</source>
        <translation>No file was chosen; nothing was written.</translation>
    </message>
    <message>
        <source>STOP: no file was written.</source>
        <translation>STOP: no file was written.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Select a backup file</source>
        <translation>Select a backup file</translation>
    </message>
</context>
<context>
    <name>backup::CUDPServerDlg</name>
    <message>
        <source>no selection</source>
        <translation>no selection</translation>
    </message>
    <message>
        <source>Show devices on Subnet :</source>
        <translation>Show devices on Subnet :</translation>
    </message>
    <message>
        <source>Select ALL</source>
        <translation>Select ALL</translation>
    </message>
    <message>
        <source>Select NONE</source>
        <translation>Select NONE</translation>
    </message>
    <message>
        <source>Serial Number:</source>
        <translation>Serial Number:</translation>
    </message>
    <message>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <source>Mask:</source>
        <translation>Mask:</translation>
    </message>
    <message>
        <source>Gateway:</source>
        <translation>Gateway:</translation>
    </message>
    <message>
        <source>Position:</source>
        <translation>Position:</translation>
    </message>
    <message>
        <source>Suchen</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Module im Netzwerk suchen</source>
        <translation>Search the network for modules</translation>
    </message>
    <message>
        <source>Setzen</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>Seriennummer, IP, Maske und Gateway des Moduls setzen</source>
        <translation>Set the module&apos;s serial number, IP, mask and gateway</translation>
    </message>
    <message>
        <source>DHCP Aus</source>
        <translation>DHCP off</translation>
    </message>
    <message>
        <source>DHCP des Moduls ausschalten</source>
        <translation>Switch the module&apos;s DHCP off</translation>
    </message>
    <message>
        <source>IP anpassen</source>
        <translation>Reorder IPs</translation>
    </message>
    <message>
        <source>IP Adressen der Module neu anordnen</source>
        <translation>Reorder the modules&apos; IP addresses</translation>
    </message>
    <message>
        <source>Backup</source>
        <translation>Backup</translation>
    </message>
    <message>
        <source>Sicherung der ausgewählten Module</source>
        <translation>Back up the selected modules</translation>
    </message>
    <message>
        <source>Wiederherstellen</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>Module aus der Sicherung wiederherstellen</source>
        <translation>Restore modules from the backup</translation>
    </message>
    <message>
        <source>Restore by IP</source>
        <translation>Restore by IP</translation>
    </message>
    <message>
        <source>Wiederherstellen mit den IP Adressen der Sicherung</source>
        <translation>Restore with the backup&apos;s IP addresses</translation>
    </message>
    <message>
        <source>Upgrade Fw</source>
        <translation>Upgrade Fw</translation>
    </message>
    <message>
        <source>Firmware der ausgewählten Module erneuern</source>
        <translation>Upgrade the firmware of the selected modules</translation>
    </message>
    <message>
        <source>Lock Selected Network</source>
        <translation>Lock Selected Network</translation>
    </message>
    <message>
        <source>Netzwerk gegen Selbstinstallation schützen</source>
        <translation>Protect the network against self-installation</translation>
    </message>
    <message>
        <source>Unlock Selected Network</source>
        <translation>Unlock Selected Network</translation>
    </message>
    <message>
        <source>Schutz des Netzwerks aufheben</source>
        <translation>Remove the network&apos;s protection</translation>
    </message>
    <message>
        <source>Reset
Name &amp;&amp; IP</source>
        <translation>Reset
Name &amp;&amp; IP</translation>
    </message>
    <message>
        <source>Namen und IP Adressen zurücksetzen</source>
        <translation>Reset names and IP addresses</translation>
    </message>
    <message>
        <source>Brevantrix Tree</source>
        <translation>Brevantrix Tree</translation>
    </message>
    <message>
        <source>Topologie des Netzwerks anzeigen</source>
        <translation>Show the network&apos;s topology</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>Suchen...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>Suchen - fertig</source>
        <translation>Search - done</translation>
    </message>
    <message>
        <source>Set NodeIP %1</source>
        <translation>Set NodeIP %1</translation>
    </message>
    <message>
        <source>Beschränkung</source>
        <translation>Restriction</translation>
    </message>
    <message>
        <source>Warnung</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>%1: %2 Module</source>
        <translation>%1: %2 modules</translation>
    </message>
    <message>
        <source>%1: keine Antwort</source>
        <translation>%1: no answer</translation>
    </message>
    <message>
        <source>Netzwerkadapter nicht verfügbar. Erneut Finden aktivieren, um die Liste der Module erneut zu laden.</source>
        <translation>Network adapter not available. Search again to reload the list of modules.</translation>
    </message>
    <message>
        <source>Reset Name &amp;&amp; IP</source>
        <translation>Reset Name &amp;&amp; IP</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>nicht gesendet</source>
        <translation>not sent</translation>
    </message>
    <message>
        <source>&lt;&lt;&lt; Alle Netzwerke &gt;&gt;&gt;</source>
        <translation>&lt;&lt;&lt; All networks &gt;&gt;&gt;</translation>
    </message>
</context>
<context>
    <name>config::CDlgConnections</name>
    <message>
        <source>Verbindungen</source>
        <translation>Connections</translation>
    </message>
    <message>
        <source>Knoten #</source>
        <translation>Node #</translation>
    </message>
    <message>
        <source>IP Adresse:</source>
        <translation>IP address:</translation>
    </message>
    <message>
        <source>Subnetzmaske:</source>
        <translation>Subnet mask:</translation>
    </message>
    <message>
        <source>Vorgelagert</source>
        <translation>Upstream</translation>
    </message>
    <message>
        <source>Das vorgelagerte Modul: Knotennummer im selben Subnetz oder IP Adresse in einem anderen Subnetz. 0 bedeutet kein Modul.</source>
        <translation>The upstream module: node number in the same subnet or IP address in another subnet. 0 means no module.</translation>
    </message>
    <message>
        <source>Nachgelagert</source>
        <translation>Downstream</translation>
    </message>
    <message>
        <source>Das nachgelagerte Modul: Knotennummer im selben Subnetz oder IP Adresse in einem anderen Subnetz. 0 bedeutet kein Modul.</source>
        <translation>The downstream module: node number in the same subnet or IP address in another subnet. 0 means no module.</translation>
    </message>
    <message>
        <source>SPS I/O Modus</source>
        <translation>PLC I/O mode</translation>
    </message>
    <message>
        <source>Ist dieser Haken gesetzt arbeitet das Modul im SPS (PLC) Modus. Achtung: Diese Einstellung kann nur durch eine erneute Autokonfiguration zurückgesetz werden.</source>
        <translation>When ticked, the module works in PLC mode. Caution: only a new AutoConfig resets this setting.</translation>
    </message>
    <message>
        <source>Hardware gesteuert</source>
        <translation>Hardware controlled</translation>
    </message>
    <message>
        <source>Ist der Haken gesetzt, wird das Modul aussschliesslich mit I/O gesteuert. Saemtliche innere Logik ist ausgeschaltet</source>
        <translation>When ticked, the module is controlled by I/O only. All internal logic is off</translation>
    </message>
    <message>
        <source>Slave:</source>
        <translation>Slave:</translation>
    </message>
    <message>
        <source>Ist dieser Haken gesetzt, arbeitet das Modul als Slave seines Nachbarn.</source>
        <translation>When ticked, the module works as slave of its neighbour.</translation>
    </message>
    <message>
        <source>Pallet Roller</source>
        <translation>Pallet Roller</translation>
    </message>
    <message>
        <source>Palettenmodus</source>
        <translation>Pallet mode</translation>
    </message>
    <message>
        <source>Transparent</source>
        <translation>Transparent</translation>
    </message>
    <message>
        <source>Ist dieser Haken gesetzt, reicht das Modul die Verbindungen seiner Nachbarn transparent weiter.</source>
        <translation>When ticked, the module passes its neighbours&apos; connections through.</translation>
    </message>
    <message>
        <source>Verbindungen zurücksetzen</source>
        <translation>Reset connections</translation>
    </message>
    <message>
        <source>Ist dieser Haken gesetzt, werden alle bestehenden logischen Verbindungen des Moduls zu vor- und nachgelagerten Modulen getrennt.</source>
        <translation>When ticked, all of the module&apos;s logical connections to upstream and downstream modules are cut.</translation>
    </message>
    <message>
        <source>Öffner/Schließer Sensor links</source>
        <translation>NC/NO sensor left</translation>
    </message>
    <message>
        <source>Sensor links als Öffner/Schließer (Push/Pull) Sensor.</source>
        <translation>Left sensor as NC/NO (push/pull) sensor.</translation>
    </message>
    <message>
        <source>Öffner/Schließer Sensor rechts</source>
        <translation>NC/NO sensor right</translation>
    </message>
    <message>
        <source>Sensor rechts als Öffner/Schließer (Push/Pull) Sensor.</source>
        <translation>Right sensor as NC/NO (push/pull) sensor.</translation>
    </message>
    <message>
        <source>Motor und Ausgaenge bei Trennung von SPS:</source>
        <translation>Motor and outputs when the PLC disconnects:</translation>
    </message>
    <message>
        <source>Unverändert</source>
        <translation>Unchanged</translation>
    </message>
    <message>
        <source>Alle abschalten</source>
        <translation>All off</translation>
    </message>
    <message>
        <source>Was Motoren und Ausgänge tun, wenn die Verbindung zur SPS getrennt wird.</source>
        <translation>What motors and outputs do when the connection to the PLC is lost.</translation>
    </message>
    <message>
        <source>Accumulation Control</source>
        <translation>Accumulation Control</translation>
    </message>
    <message>
        <source>Zone 1</source>
        <translation>Zone 1</translation>
    </message>
    <message>
        <source>Zone 2</source>
        <translation>Zone 2</translation>
    </message>
    <message>
        <source>Das Modul, das den Stau dieses Moduls steuert, mit seiner ersten und letzten Zone (nur in den Stausteuerungs-Modi).</source>
        <translation>The module that controls this module&apos;s accumulation, with its first and last zone (accumulation control modes only).</translation>
    </message>
    <message>
        <source>From Zone:</source>
        <translation>From Zone:</translation>
    </message>
    <message>
        <source>To Zone:</source>
        <translation>To Zone:</translation>
    </message>
    <message>
        <source>SPS Programm:</source>
        <translation>PLC program:</translation>
    </message>
    <message>
        <source>Blockierung SPS Modus</source>
        <translation>Block PLC mode</translation>
    </message>
    <message>
        <source>Ist dieser Haken gesetzt, wird der SPS Modus des Moduls blockiert.</source>
        <translation>When ticked, the module&apos;s PLC mode is blocked.</translation>
    </message>
    <message>
        <source>SPS Programm löschen</source>
        <translation>Delete PLC program</translation>
    </message>
    <message>
        <source>Ist dieser Haken gesetzt, wird das SPS Programm des Moduls gelöscht.</source>
        <translation>When ticked, the module&apos;s PLC program is deleted.</translation>
    </message>
    <message>
        <source>Das SPS Programm (PLCDATA_*.bin), das in das Modul geladen wird.</source>
        <translation>The PLC program (PLCDATA_*.bin) loaded into the module.</translation>
    </message>
    <message>
        <source>SPS Programm</source>
        <translation>PLC program</translation>
    </message>
    <message>
        <source>BIN Files (*.bin)</source>
        <translation>BIN Files (*.bin)</translation>
    </message>
    <message>
        <source>Anwenden</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>Alle anwenden</source>
        <translation>Apply to all</translation>
    </message>
    <message>
        <source>Speichert alle gemachten Änderungen im ausgewählten Modul</source>
        <translation>Saves all changes in the selected module</translation>
    </message>
    <message>
        <source>Speichert alle gemachten Änderungen in allen Modulen in der &quot;ausgewählten Gerätebox&quot;</source>
        <translation>Saves all changes in all modules of the &quot;selected device box&quot;</translation>
    </message>
</context>
<context>
    <name>config::CDlgExtension</name>
    <message>
        <source>Erweiterungen</source>
        <translation>Extensions</translation>
    </message>
    <message>
        <source>Knoten #</source>
        <translation>Node #</translation>
    </message>
    <message>
        <source>IP Adresse</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>vorausgehenden</source>
        <translation>preceding</translation>
    </message>
    <message>
        <source>nachfolgenden</source>
        <translation>following</translation>
    </message>
    <message>
        <source>Das Master-Modul, dessen Erweiterung dieses Modul wird.</source>
        <translation>The master module this module becomes an extension of.</translation>
    </message>
    <message>
        <source>Dieses Modul ist eine Erweiterung des</source>
        <translation>This module is an extension of the</translation>
    </message>
    <message>
        <source>Moduls</source>
        <translation>module</translation>
    </message>
    <message>
        <source>Anwenden</source>
        <translation>Apply</translation>
    </message>
</context>
<context>
    <name>config::CYarq_UploaderDlg</name>
    <message>
        <source>Browse</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>PLC Upgrade</source>
        <translation>PLC Upgrade</translation>
    </message>
    <message>
        <source>Upload One</source>
        <translation>Upload One</translation>
    </message>
    <message>
        <source>Upload All</source>
        <translation>Upload All</translation>
    </message>
    <message>
        <source>Abort Uploading</source>
        <translation>Abort Uploading</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>BIN Files (*.bin)</source>
        <translation>BIN Files (*.bin)</translation>
    </message>
</context>
<context>
    <name>diag::CDiagnosticLog</name>
    <message>
        <source>Diagnostik log</source>
        <translation>Diagnostic log</translation>
    </message>
    <message>
        <source>Log %1</source>
        <translation>Log %1</translation>
    </message>
    <message>
        <source>Einlesen</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>diag::CDlgDiagnostic</name>
    <message>
        <source>Diagnose</source>
        <translation>Diagnosis</translation>
    </message>
    <message>
        <source>Text file (*.txt)</source>
        <translation>Text file (*.txt)</translation>
    </message>
    <message>
        <source>Netzwerk:</source>
        <translation>Network:</translation>
    </message>
    <message>
        <source>Modul Nr.:</source>
        <translation>Module no.:</translation>
    </message>
    <message>
        <source>Einlesen</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Zähler</source>
        <translation>Counters</translation>
    </message>
    <message>
        <source>Reset-Zähler nach Spannung &lt; 18V:</source>
        <translation>Resets after voltage &lt; 18V:</translation>
    </message>
    <message>
        <source>Reset-Zähler ohne Spannungsabfall:</source>
        <translation>Resets without voltage drop:</translation>
    </message>
    <message>
        <source>Quelle letzten Resets:</source>
        <translation>Source of last reset:</translation>
    </message>
    <message>
        <source>Reconnection Zähler:</source>
        <translation>Reconnection counter:</translation>
    </message>
    <message>
        <source>Verbindungsaufbau-Timeout-Zähler:</source>
        <translation>Connection timeout counter:</translation>
    </message>
    <message>
        <source>Zurücksetzen</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>Unterspannungszähler zurücksetzen:</source>
        <translation>Reset undervoltage counter:</translation>
    </message>
    <message>
        <source>Rücksetzen aller Zähler bis auf Unterspannung:</source>
        <translation>Reset all counters but undervoltage:</translation>
    </message>
    <message>
        <source>Modul</source>
        <translation>Module</translation>
    </message>
    <message>
        <source>Replace Info Save Counters</source>
        <translation>Replace Info Save Counters</translation>
    </message>
    <message>
        <source>CPU Load, [%]</source>
        <translation>CPU Load, [%]</translation>
    </message>
    <message>
        <source>Min:</source>
        <translation>Min:</translation>
    </message>
    <message>
        <source>Max:</source>
        <translation>Max:</translation>
    </message>
    <message>
        <source>Average:</source>
        <translation>Average:</translation>
    </message>
    <message>
        <source>Free Memory, [Bytes]:</source>
        <translation>Free Memory, [Bytes]:</translation>
    </message>
    <message>
        <source>Firmware revision:</source>
        <translation>Firmware revision:</translation>
    </message>
    <message>
        <source>Save to File</source>
        <translation>Save to File</translation>
    </message>
    <message>
        <source>GetRange &amp;&amp;
Save to File</source>
        <translation>GetRange &amp;&amp;
Save to File</translation>
    </message>
    <message>
        <source>Letzte gespeicherte Datei:</source>
        <translation>Last saved file:</translation>
    </message>
    <message>
        <source>von:</source>
        <translation>from:</translation>
    </message>
    <message>
        <source>bis:</source>
        <translation>to:</translation>
    </message>
    <message>
        <source>Letzter gespeicherter Datenbereich:</source>
        <translation>Last saved range:</translation>
    </message>
    <message>
        <source>Lese Modul %1 …</source>
        <translation>Reading module %1 …</translation>
    </message>
    <message>
        <source>Read Error!</source>
        <translation>Read Error!</translation>
    </message>
    <message>
        <source>Modul %1 antwortet nicht.</source>
        <translation>Module %1 does not answer.</translation>
    </message>
    <message>
        <source>Modul %1 (%2) gelesen.</source>
        <translation>Module %1 (%2) read.</translation>
    </message>
    <message>
        <source>Can&apos;t create file %1!</source>
        <translation>Can&apos;t create file %1!</translation>
    </message>
    <message>
        <source>Gespeichert: %1</source>
        <translation>Saved: %1</translation>
    </message>
    <message>
        <source>Ungültiger Bereich.</source>
        <translation>Invalid range.</translation>
    </message>
    <message>
        <source>Lese Module %1 bis %2 …</source>
        <translation>Reading modules %1 to %2 …</translation>
    </message>
    <message>
        <source>Connection to the module &quot;%1&quot; is lost !</source>
        <translation>Connection to the module &quot;%1&quot; is lost !</translation>
    </message>
</context>
<context>
    <name>diag::DiagnosticScreen</name>
    <message>
        <source>Linker Motor</source>
        <translation>Left motor</translation>
    </message>
    <message>
        <source>Rechter Motor</source>
        <translation>Right motor</translation>
    </message>
    <message>
        <source>Stopp / Stau:</source>
        <translation>Stop / jam:</translation>
    </message>
    <message>
        <source>Zonenfehler:</source>
        <translation>Zone errors:</translation>
    </message>
    <message>
        <source>Sensor angeschlossen:</source>
        <translation>Sensor connected:</translation>
    </message>
    <message>
        <source>Sensor verschmutzt:</source>
        <translation>Sensor dirty:</translation>
    </message>
    <message>
        <source>Kein Motor</source>
        <translation>No motor</translation>
    </message>
</context>
<context>
    <name>diag::UxMtrHistory</name>
    <message>
        <source>Antriebs Historie</source>
        <translation>Drive history</translation>
    </message>
    <message>
        <source>Einlesen</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>pages::CFlexZone</name>
    <message>
        <source>Kommunikationszeit zwischen den Modulen (ms)</source>
        <translation>Communication time between the modules (ms)</translation>
    </message>
    <message>
        <source>In Schritten von 10 ms erhöhen, wenn ein Karton nur wenig länger als eine Zone ist.</source>
        <translation>Raise in steps of 10 ms when a carton is only slightly longer than a zone.</translation>
    </message>
    <message>
        <source>Flex Zone</source>
        <translation>Flex Zone</translation>
    </message>
    <message>
        <source>Enable All</source>
        <translation>Enable All</translation>
    </message>
    <message>
        <source>Disable All</source>
        <translation>Disable All</translation>
    </message>
    <message>
        <source>Set All</source>
        <translation>Set All</translation>
    </message>
</context>
<context>
    <name>pages::CSensors</name>
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
        <source>On/Off Error</source>
        <translation>On/Off Error</translation>
    </message>
    <message>
        <source>On/Off Blocked</source>
        <translation>On/Off Blocked</translation>
    </message>
    <message>
        <source>▲ invertiert</source>
        <translation>▲ inverted</translation>
    </message>
    <message>
        <source>▼ normal</source>
        <translation>▼ normal</translation>
    </message>
    <message>
        <source>Set All Sensors this way</source>
        <translation>Set All Sensors this way</translation>
    </message>
    <message>
        <source>Gesperrt: das Modul wird von einer SPS gesteuert.</source>
        <translation>Locked: the module is controlled by a PLC.</translation>
    </message>
</context>
<context>
    <name>pages::CServiceDlg</name>
    <message>
        <source>Reset Operating Time</source>
        <translation>Reset Operating Time</translation>
    </message>
    <message>
        <source>Left Motor</source>
        <translation>Left Motor</translation>
    </message>
    <message>
        <source>Right Motor</source>
        <translation>Right Motor</translation>
    </message>
    <message>
        <source>Clear Motor short-circuit Errors</source>
        <translation>Clear Motor short-circuit Errors</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>DTA Reset</source>
        <translation>DTA Reset</translation>
    </message>
    <message>
        <source>Upstream</source>
        <translation>Upstream</translation>
    </message>
    <message>
        <source>Downstream</source>
        <translation>Downstream</translation>
    </message>
    <message>
        <source>Touch &amp;&amp; Go</source>
        <translation>Touch &amp;&amp; Go</translation>
    </message>
    <message>
        <source>Backward</source>
        <translation>Backward</translation>
    </message>
</context>
<context>
    <name>params::CMRegDlg</name>
    <message>
        <source>Von Knoten #</source>
        <translation>From node #</translation>
    </message>
    <message>
        <source>ZPA / DTA</source>
        <translation>ZPA / DTA</translation>
    </message>
    <message>
        <source>Advanced
Dialog</source>
        <translation>Advanced
Dialog</translation>
    </message>
    <message>
        <source>Diagnostic Log</source>
        <translation>Diagnostic Log</translation>
    </message>
    <message>
        <source>Drive Controller</source>
        <translation>Drive Controller</translation>
    </message>
    <message>
        <source>PLC Daten</source>
        <translation>PLC data</translation>
    </message>
    <message>
        <source>Merger</source>
        <translation>Merger</translation>
    </message>
    <message>
        <source>E-Stop...</source>
        <translation>E-Stop...</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Modul</source>
        <translation>Module</translation>
    </message>
    <message>
        <source>Optische Modullokalisierung</source>
        <translation>Visual module locator</translation>
    </message>
    <message>
        <source>Linker Port</source>
        <translation>Left port</translation>
    </message>
    <message>
        <source>Rechter Port</source>
        <translation>Right port</translation>
    </message>
    <message>
        <source>Antriebe</source>
        <translation>Drives</translation>
    </message>
    <message>
        <source>Zonen</source>
        <translation>Zones</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Faults</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>SetAll</source>
        <translation>SetAll</translation>
    </message>
    <message>
        <source>Übergabebericht...</source>
        <translation>Handover report...</translation>
    </message>
    <message>
        <source>○ Nicht verbunden</source>
        <translation>○ Not connected</translation>
    </message>
    <message>
        <source>noch %1</source>
        <translation>%1 left</translation>
    </message>
    <message>
        <source>I/O Modul</source>
        <translation>I/O module</translation>
    </message>
    <message>
        <source>SPS</source>
        <translation>PLC</translation>
    </message>
    <message>
        <source>Linienwache...</source>
        <translation>Line watch...</translation>
    </message>
</context>
<context>
    <name>params::ModulePicture</name>
    <message>
        <source>nicht benutzt</source>
        <translation>not used</translation>
    </message>
    <message>
        <source>Stau</source>
        <translation>Jam</translation>
    </message>
    <message>
        <source>Forced Run</source>
        <translation>Forced Run</translation>
    </message>
    <message>
        <source>Aufstauen</source>
        <translation>Accumulate</translation>
    </message>
    <message>
        <source>Diagnose</source>
        <translation>Diagnosis</translation>
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
        <source>Modul</source>
        <translation>Module</translation>
    </message>
</context>
<context>
    <name>plc::CDlgPLC_CFG</name>
    <message>
        <source>PLC Daten</source>
        <translation>PLC data</translation>
    </message>
    <message>
        <source>Modul IP:</source>
        <translation>Module IP:</translation>
    </message>
    <message>
        <source>Basisadresse:</source>
        <translation>Base address:</translation>
    </message>
    <message>
        <source>Tag-Datei...</source>
        <translation>Tag file...</translation>
    </message>
    <message>
        <source>Prüfe das PLC Programm von %1...</source>
        <translation>Checking the PLC program of %1...</translation>
    </message>
    <message>
        <source>Tag-Datei</source>
        <translation>Tag file</translation>
    </message>
    <message>
        <source>Tag-Dateien (*.tags.json *.json);;PLC Programme (*.bin);;Alle Dateien (*)</source>
        <translation>Tag files (*.tags.json *.json);;PLC programs (*.bin);;All files (*)</translation>
    </message>
    <message>
        <source>Setzen</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>Wert gesendet</source>
        <translation>Value sent</translation>
    </message>
</context>
<context>
    <name>report::CReportDlg</name>
    <message>
        <source>Übergabebericht</source>
        <translation>Handover report</translation>
    </message>
    <message>
        <source>Topologie, Parameter, Verbindungen, SPS Programm und Zustand aller Module des gewählten Netzwerkadapters als HTML- und CSV-Dateien.</source>
        <translation>Topology, parameters, connections, PLC program and state of all modules on the selected network adapter as HTML and CSV files.</translation>
    </message>
    <message>
        <source>Ordner:</source>
        <translation>Folder:</translation>
    </message>
    <message>
        <source>Durchsuchen...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>Erstellen</source>
        <translation>Create</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>Bericht öffnen</source>
        <translation>Open report</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Wird angehalten...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>Bitte zuerst STOP drücken und das Ende abwarten.</source>
        <translation>Press STOP first and wait for the end.</translation>
    </message>
    <message>
        <source>Bitte einen Ordner angeben.</source>
        <translation>Please give a folder.</translation>
    </message>
    <message>
        <source>Suche Module und Topologie...</source>
        <translation>Searching modules and topology...</translation>
    </message>
    <message>
        <source>Angehalten, nichts geschrieben (ein früherer Bericht im Ordner bleibt).</source>
        <translation>Stopped, nothing written (an earlier report in the folder stays).</translation>
    </message>
    <message>
        <source>Keine Module gefunden.</source>
        <translation>No modules found.</translation>
    </message>
    <message>
        <source>Module gelesen: %1 von %2</source>
        <translation>Modules read: %1 of %2</translation>
    </message>
    <message>
        <source>%1  SN %2  gelesen</source>
        <translation>%1  SN %2  read</translation>
    </message>
    <message>
        <source>%1  SN %2  nicht lesbar: %3</source>
        <translation>%1  SN %2  unreadable: %3</translation>
    </message>
    <message>
        <source>Bericht nicht geschrieben: %1</source>
        <translation>Report not written: %1</translation>
    </message>
    <message>
        <source>Bericht geschrieben: %1 Module, %2 nicht lesbar</source>
        <translation>Report written: %1 modules, %2 unreadable</translation>
    </message>
</context>
<context>
    <name>topology::ui::CPLDlg</name>
    <message>
        <source>&lt;&lt;&lt; Alle Netzwerke &gt;&gt;&gt;</source>
        <translation>&lt;&lt;&lt; All networks &gt;&gt;&gt;</translation>
    </message>
    <message>
        <source>Bitte zuerst den online Knoten auswählen.</source>
        <translation>Please select the online node first.</translation>
    </message>
    <message>
        <source>Bitte den Knoten aus der Liste auswählen, an dem die AutoConfig starten soll.</source>
        <translation>Please select the node in the list where the AutoConfig is to start.</translation>
    </message>
    <message>
        <source>Bitte den zu ersetzenden Knoten aus der Liste auswählen.</source>
        <translation>Please select the node to replace in the list.</translation>
    </message>
    <message>
        <source>Antriebsnetzwerk scannen</source>
        <translation>Scan drive network</translation>
    </message>
    <message>
        <source>Zeige Zentrik im Subnetz:</source>
        <translation>Show Zentrik in subnet:</translation>
    </message>
    <message>
        <source>Discover</source>
        <translation>Discover</translation>
    </message>
    <message>
        <source>Discovered/unassigned modules:</source>
        <translation>Discovered/unassigned modules:</translation>
    </message>
    <message>
        <source>Discovered modules:</source>
        <translation>Discovered modules:</translation>
    </message>
    <message>
        <source>AutoConfig von ausgewählter IP Adresse</source>
        <translation>AutoConfig from selected IP address</translation>
    </message>
    <message>
        <source>Ausgewähltes Modul ersetzen</source>
        <translation>Replace selected module</translation>
    </message>
    <message>
        <source>Raster</source>
        <translation>Grid</translation>
    </message>
    <message>
        <source>Zoom:</source>
        <translation>Zoom:</translation>
    </message>
    <message>
        <source>noch %v s</source>
        <translation>%v s left</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Register der Module werden gelesen... %1 / %2</source>
        <translation>Reading the modules&apos; registers... %1 / %2</translation>
    </message>
    <message>
        <source>Suche alle Knoten...</source>
        <translation>Searching all nodes...</translation>
    </message>
    <message>
        <source>Entdeckt = %1, angezeigt = %2</source>
        <translation>Discovered = %1, shown = %2</translation>
    </message>
    <message>
        <source>Urmigat Installationstopologie</source>
        <translation>Urmigat installation topology</translation>
    </message>
</context>
<context>
    <name>topology::ui::CPLView</name>
    <message>
        <source>AutoConfig von hier</source>
        <translation>AutoConfig from here</translation>
    </message>
    <message>
        <source>Dieses Modul ersetzen</source>
        <translation>Replace this module</translation>
    </message>
    <message>
        <source>IP Adresse des Moduls ändern und AutoConfig</source>
        <translation>Change module IP address and AutoConfig</translation>
    </message>
    <message>
        <source>Auf Werkseinstellungen zurücksetzen...</source>
        <translation>Reset to factory settings...</translation>
    </message>
</context>
<context>
    <name>ui::CTabDlg</name>
    <message>
        <source>%1

Diese Seite ist noch nicht verfügbar.</source>
        <translation>%1

This page is not available yet.</translation>
    </message>
    <message>
        <source>Vorausschau &amp;&amp; Einstellung</source>
        <translation>Preview &amp;&amp; Settings</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>Verbindungen</source>
        <translation>Connections</translation>
    </message>
    <message>
        <source>Netzwerk Einstellungen</source>
        <translation>Network settings</translation>
    </message>
    <message>
        <source>Besondere Dienste</source>
        <translation>Special services</translation>
    </message>
    <message>
        <source>Funktion Pin 2</source>
        <translation>Pin 2 function</translation>
    </message>
    <message>
        <source>Flex Zone</source>
        <translation>Flex Zone</translation>
    </message>
    <message>
        <source>Sensoren</source>
        <translation>Sensors</translation>
    </message>
    <message>
        <source>Erweiterungen</source>
        <translation>Extensions</translation>
    </message>
    <message>
        <source>Erweiterte Funktionen</source>
        <translation>Advanced functions</translation>
    </message>
    <message>
        <source>Schließen</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>ui::TimeLeft</name>
    <message>
        <source>%p% - noch %1</source>
        <translation>%p% - %1 left</translation>
    </message>
</context>
<context>
    <name>watch::ui::CLineWatchDlg</name>
    <message>
        <source>Linienwache</source>
        <translation>Line watch</translation>
    </message>
    <message>
        <source>Linienplan:</source>
        <translation>Line plan:</translation>
    </message>
    <message>
        <source>Sicherung:</source>
        <translation>Backup:</translation>
    </message>
    <message>
        <source>Starten</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Anhalten</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Intervall:</source>
        <translation>Interval:</translation>
    </message>
    <message>
        <source>Ja</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>Nein</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Zeit</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Ereignis</source>
        <translation>Event</translation>
    </message>
    <message>
        <source>Seriennr.</source>
        <translation>Serial no.</translation>
    </message>
    <message>
        <source>Adresse</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Detail</source>
        <translation>Detail</translation>
    </message>
    <message>
        <source>Linienplan wählen</source>
        <translation>Choose the line plan</translation>
    </message>
    <message>
        <source>Linienplan (*.json);;Alle Dateien (*)</source>
        <translation>Line plan (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>Sicherung wählen</source>
        <translation>Choose the backup</translation>
    </message>
    <message>
        <source>Sicherung (*.backup);;Alle Dateien (*)</source>
        <translation>Backup (*.backup);;All files (*)</translation>
    </message>
    <message>
        <source>Bitte zuerst den Linienplan wählen (topology --save).</source>
        <translation>Please choose the line plan first (topology --save).</translation>
    </message>
    <message>
        <source>Die Linienwache kann nicht starten: %1</source>
        <translation>The line watch cannot start: %1</translation>
    </message>
    <message>
        <source>Die Linienwache kann nicht starten.</source>
        <translation>The line watch cannot start.</translation>
    </message>
    <message>
        <source>Die Linienwache läuft: die erste Runde wird ausgeführt ...</source>
        <translation>The line watch is running: the first round is under way ...</translation>
    </message>
    <message>
        <source>Die Linienwache wird angehalten ...</source>
        <translation>The line watch is stopping ...</translation>
    </message>
    <message>
        <source>Die Linienwache ist angehalten.</source>
        <translation>The line watch is stopped.</translation>
    </message>
    <message>
        <source>fehlt</source>
        <translation>gone</translation>
    </message>
    <message>
        <source>wieder da</source>
        <translation>back</translation>
    </message>
    <message>
        <source>versetzt</source>
        <translation>moved</translation>
    </message>
    <message>
        <source>gedreht</source>
        <translation>turned</translation>
    </message>
    <message>
        <source>andere Adresse</source>
        <translation>other address</translation>
    </message>
    <message>
        <source>andere Firmware</source>
        <translation>other firmware</translation>
    </message>
    <message>
        <source>ersetzt</source>
        <translation>replaced</translation>
    </message>
    <message>
        <source>neues Modul</source>
        <translation>new module</translation>
    </message>
    <message>
        <source>doppelte Adresse</source>
        <translation>duplicate address</translation>
    </message>
    <message>
        <source>wiederhergestellt</source>
        <translation>restored</translation>
    </message>
    <message>
        <source>Wiederherstellung fehlgeschlagen</source>
        <translation>Restore failed</translation>
    </message>
    <message>
        <source>Wiederherstellung abgelehnt</source>
        <translation>Restore declined</translation>
    </message>
    <message>
        <source>Runde fehlgeschlagen</source>
        <translation>Round failed</translation>
    </message>
    <message>
        <source>Linie wie geplant</source>
        <translation>Line as planned</translation>
    </message>
    <message>
        <source>Ausfall %1</source>
        <translation>Outage %1</translation>
    </message>
    <message>
        <source>statt SN %1</source>
        <translation>instead of SN %1</translation>
    </message>
    <message>
        <source>Zeile %1, Spalte %2</source>
        <translation>Row %1, column %2</translation>
    </message>
    <message>
        <source>%1 von %2 Modulen vorhanden, Runde %3</source>
        <translation>%1 of %2 modules present, round %3</translation>
    </message>
    <message>
        <source>, letzte Runde %1</source>
        <translation>, last round %1</translation>
    </message>
    <message>
        <source> (fehlgeschlagen)</source>
        <translation> (failed)</translation>
    </message>
    <message>
        <source>SN %1</source>
        <translation>SN %1</translation>
    </message>
    <message>
        <source>Nicht im Linienplan: %1</source>
        <translation>Not in the line plan: %1</translation>
    </message>
    <message>
        <source>An der Stelle von SN %1 (%2, Zeile %3, Spalte %4) steht das neue Modul SN %5 mit Werkseinstellungen.
Die Sicherung von SN %1 auf das neue Modul zurückspielen (Adresse, Register, Flash, PLC-Programm)?</source>
        <translation>In the place of SN %1 (%2, row %3, column %4) stands the new module SN %5 with factory settings.
Restore the backup of SN %1 to the new module (address, registers, flash, PLC program)?</translation>
    </message>
</context>
<context>
    <name>watch::ui::CWatchLineView</name>
    <message>
        <source>antwortet nicht seit %1</source>
        <translation>not answering since %1</translation>
    </message>
    <message>
        <source>antwortet nicht</source>
        <translation>not answering</translation>
    </message>
    <message>
        <source>fehlt seit %1</source>
        <translation>gone since %1</translation>
    </message>
    <message>
        <source>fehlt</source>
        <translation>gone</translation>
    </message>
    <message>
        <source>ersetzt: SN %1</source>
        <translation>replaced: SN %1</translation>
    </message>
    <message>
        <source>, wird wiederhergestellt</source>
        <translation>, being restored</translation>
    </message>
    <message>
        <source>versetzt</source>
        <translation>moved</translation>
    </message>
    <message>
        <source>gedreht</source>
        <translation>turned</translation>
    </message>
    <message>
        <source>andere Adresse</source>
        <translation>other address</translation>
    </message>
    <message>
        <source>andere Adresse %1</source>
        <translation>other address %1</translation>
    </message>
    <message>
        <source>andere Firmware</source>
        <translation>other firmware</translation>
    </message>
    <message>
        <source>vorhanden</source>
        <translation>present</translation>
    </message>
</context>
</TS>
