// The string table: every interface text by numeric id. French is built in; a language
// module may override any text, and a text it lacks stays French.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

namespace TextId {
// Kind display names, in kind-code order.
inline constexpr int kKindNameFirst = 1000;
inline constexpr int kKindNameLast = 1010;
// Kind keywords of the attractor parameter file, in kind-code order.
inline constexpr int kKindKeywordFirst = 1400;
inline constexpr int kKindKeywordLast = 1410;
// Name of the Julia level parameter.
inline constexpr int kJuliaLevel = 1801;
// Keywords of the attractor parameter file. A language module must carry them unchanged:
// files are read and written with whatever the table holds.
inline constexpr int kFileAttractor = 2400;
inline constexpr int kFileType = 2401;
inline constexpr int kFileMatrices = 2402;
inline constexpr int kFileOrder = 2403;
inline constexpr int kFileCoefficients = 2404;
inline constexpr int kFileParameters = 2405;
// Render mode names, in mode-index order.
inline constexpr int kModeNameFirst = 2000;
inline constexpr int kModeNameLast = 2004;
// Render parameter names.
inline constexpr int kLuminosity = 2050;
inline constexpr int kGamma = 2051;
inline constexpr int kRoughness = 2052;
inline constexpr int kOpacity = 2053;
inline constexpr int kSpeedGradient = 2054;
inline constexpr int kAngleGradient = 2055;
// Render progress and its end; "%u" stands for the iteration count.
inline constexpr int kDivergedAfter = 2500;
inline constexpr int kSpeedLabel = 2501;
inline constexpr int kRemainingLabel = 2502;
inline constexpr int kTotalTimeLabel = 2503;
// Caption suffixes of the six document states, in state order (2100 is empty).
inline constexpr int kStateSuffixFirst = 2100;
// Filter of the attractor file dialogs ("text|pattern").
inline constexpr int kAttractorFilter = 2154;
// Attractor settings of a document.
inline constexpr int kIterations = 2201;
inline constexpr int kRandomness = 2202;
inline constexpr int kMatricesLabel = 2203;
inline constexpr int kDegreeLabel = 2204;

// Main window. Dialog filters are "text|pattern".
inline constexpr int kMainCaption = 3000;
inline constexpr int kMenuFile = 3001;
inline constexpr int kMenuHelp = 3002;
inline constexpr int kActionNew = 3003;
inline constexpr int kActionOpen = 3004;
inline constexpr int kActionSaveAttractor = 3005;
inline constexpr int kActionSaveImage = 3006;
inline constexpr int kActionClose = 3007;
inline constexpr int kActionQuit = 3008;
inline constexpr int kActionAbout = 3009;
inline constexpr int kSaveDialogTitle = 3010;
inline constexpr int kBmpFilter = 3011;
inline constexpr int kPngFilter = 3012;
inline constexpr int kSpeedAtRest = 3013;
inline constexpr int kOpenDialogTitle = 3014;
inline constexpr int kActionLanguage = 3015;
// Messages of the main window; "%s" stands for a file name or a reason, "%d" for a size.
inline constexpr int kReadError = 3020;
inline constexpr int kNotAttractorExtension = 3021;
inline constexpr int kWriteError = 3022;
inline constexpr int kImageSizeOutOfRange = 3023;
inline constexpr int kImageTooLarge = 3024;
inline constexpr int kReasonNotAttractor = 3025;
inline constexpr int kReasonCannotOpen = 3026;
inline constexpr int kReasonTooLarge = 3027;
inline constexpr int kReasonWriteFailed = 3028;
inline constexpr int kReasonNotFinite = 3029;

// Document window.
inline constexpr int kMenuAttractor = 3100;
inline constexpr int kMenuView = 3101;
inline constexpr int kActionSearch = 3102;
inline constexpr int kActionStopSearch = 3103;
inline constexpr int kActionStart = 3104;
inline constexpr int kActionStop = 3105;
inline constexpr int kActionFit = 3106;
inline constexpr int kActionCentre = 3107;
inline constexpr int kActionCopy = 3108;
inline constexpr int kActionAutoFit = 3109;
inline constexpr int kUntitled = 3110;

// "Nouveau" dialog.
inline constexpr int kNewCaption = 3200;
inline constexpr int kNewAttractorGroup = 3201;
inline constexpr int kNewType = 3202;
inline constexpr int kNewOption = 3203;
inline constexpr int kNewImageGroup = 3204;
inline constexpr int kNewWidth = 3205;
inline constexpr int kNewHeight = 3206;
inline constexpr int kNewRender = 3207;
inline constexpr int kOk = 3208;
inline constexpr int kCancel = 3209;
inline constexpr int kNotAnInteger = 3210;
inline constexpr int kSizeRange = 3211;

// About box.
inline constexpr int kAboutCaption = 3250;
inline constexpr int kAboutLine1 = 3251;
inline constexpr int kAboutLine2 = 3252;
inline constexpr int kAboutAddress = 3253;
inline constexpr int kAboutOk = 3254;

// Render palette rows.
inline constexpr int kImageWidth = 2356;
inline constexpr int kImageHeight = 2357;
inline constexpr int kUpdateCount = 2358;
inline constexpr int kScale = 2359;

// The palettes.
inline constexpr int kAttractorPaletteCaption = 3300;
inline constexpr int kRenderPaletteCaption = 3301;
inline constexpr int kPaletteType = 3302;
inline constexpr int kPaletteOption = 3303;
inline constexpr int kPaletteRender = 3304;
inline constexpr int kColorMapFilter = 3305;
inline constexpr int kColorMapTitle = 3306;
inline constexpr int kColorMapEmpty = 3307;
inline constexpr int kColorMapUnreadable = 3308;

// The discovery window (the gallery of finds). "%u" stands for a count.
inline constexpr int kActionDiscovery = 3800;
inline constexpr int kDiscoveryCaption = 3801;
inline constexpr int kDiscoveryAllKinds = 3802;
inline constexpr int kDiscoveryStart = 3803;
inline constexpr int kDiscoveryStop = 3804;
inline constexpr int kDiscoverySortBy = 3805;
inline constexpr int kDiscoverySortOrder = 3806;
inline constexpr int kDiscoverySortLyapunov = 3807;
inline constexpr int kDiscoverySortDimension = 3808;
inline constexpr int kDiscoverySortScore = 3809;
inline constexpr int kDiscoveryKind = 3810;
inline constexpr int kDiscoveryStatus = 3811;
inline constexpr int kTipDiscovery = 3812;
inline constexpr int kDiscoveryMoreLikeThis = 3813;
inline constexpr int kTipDiscoveryMoreLikeThis = 3814;
inline constexpr int kDiscoveryNearPercent = 3815;
inline constexpr int kTipDiscoveryNearPercent = 3816;
inline constexpr int kDiscoveryStar = 3817;
inline constexpr int kTipDiscoveryStar = 3818;
inline constexpr int kDiscoveryFindsTab = 3819;
inline constexpr int kDiscoveryFavouritesTab = 3820;
inline constexpr int kDiscoveryExamplesTab = 3821;
inline constexpr int kDiscoveryMode = 3822;
inline constexpr int kDiscoveryShow = 3823;
inline constexpr int kDiscoveryMinScore = 3824;
inline constexpr int kDiscoveryDimension = 3825;
inline constexpr int kDiscoveryDimensionTo = 3826;
inline constexpr int kDiscoveryFolder = 3827;
inline constexpr int kDiscoveryFolderIs = 3828;
inline constexpr int kDiscoveryChooseFolder = 3829;
inline constexpr int kDiscoveryStarFailed = 3830;
inline constexpr int kDiscoveryOpen = 3831;
// Render palette: the fixed exposure of an animation's frame.
inline constexpr int kFixedExposure = 3832;
inline constexpr int kTipFixedExposure = 3833;
// Gallery: a favourite's thumbnail drawn for want of one, written on request.
inline constexpr int kDiscoverySaveThumbnail = 3834;
inline constexpr int kDiscoveryThumbnailFailed = 3835;

// Language dialog and its messages ("%s" stands for a file).
inline constexpr int kLanguageCaption = 3350;
inline constexpr int kLanguagePrompt = 3351;
inline constexpr int kLanguageEnglish = 3352;
inline constexpr int kLanguageFrench = 3353;
inline constexpr int kLanguageOk = 3354;
inline constexpr int kLanguageCancel = 3355;
inline constexpr int kLanguageNotStored = 3356;
inline constexpr int kLanguageModuleMissing = 3357;

// Files that are not regular files, files beyond the readers' caps ("%s" stands for a file).
inline constexpr int kReasonNotRegular = 3400;
inline constexpr int kReasonTooManyLines = 3401;
inline constexpr int kColorMapTooManyColors = 3402;
inline constexpr int kColorMapNotRegular = 3403;
inline constexpr int kColorMapTooLarge = 3404;

// Where and why an attractor file could not be read ("%d" a line, "%s" one of the reasons).
inline constexpr int kReadErrorAtLine = 3425;
inline constexpr int kParseUnknownKeyword = 3426;
inline constexpr int kParseBadValue = 3427;
inline constexpr int kParseRepeated = 3428;
inline constexpr int kParseMissingBrace = 3429;
inline constexpr int kParseUnexpectedEnd = 3430;
inline constexpr int kParseMissingKeyword = 3431;
inline constexpr int kParseNotText = 3432;
// An image whose render would not fit in what the program may allocate: its sides, then the
// MiB it needs and the MiB the limit leaves; one text for each limit.
inline constexpr int kImageOverHalfMemory = 3433;
inline constexpr int kImageOverAddressSpace = 3434;
inline constexpr int kImageOverDataLimit = 3435;
inline constexpr int kImageOverGroupLimit = 3436;
// The parallel render (render palette rows and their tooltips).
inline constexpr int kRenderThreads = 3450;
inline constexpr int kRenderStreams = 3451;
inline constexpr int kTipRenderThreads = 3452;
inline constexpr int kTipRenderStreams = 3453;
// Saved and autosaved renders: resuming them.
inline constexpr int kActionResumeRender = 3475;
inline constexpr int kTipResumeRender = 3476;
inline constexpr int kRenderStateFilter = 3477;
inline constexpr int kResumeOffer = 3478;
inline constexpr int kResumeButton = 3479;
inline constexpr int kDiscardButton = 3480;
inline constexpr int kLaterButton = 3481;
inline constexpr int kResumeError = 3482;
inline constexpr int kResumeRenderBusy = 3483;
inline constexpr int kStateCannotOpen = 3484;
inline constexpr int kStateNotAState = 3485;
inline constexpr int kStateOtherVersion = 3486;
inline constexpr int kStateTruncated = 3487;
inline constexpr int kStateCorrupt = 3488;
inline constexpr int kStateTooLarge = 3489;
inline constexpr int kStateReadFailed = 3490;
inline constexpr int kStateImageTooLarge = 3491;
inline constexpr int kStateInconsistent = 3492;
// The autosave of a running render: its interval (render palette row and tooltip), a failed
// write, a crashed render's file that could not be resumed ("%s": a reason, a file).
inline constexpr int kAutosaveMinutes = 3493;
inline constexpr int kTipAutosaveMinutes = 3494;
inline constexpr int kAutosaveFailed = 3495;
inline constexpr int kAutosaveSetAside = 3496;
// A saved multi-stream Gaz render of an earlier version, whose float sums cannot be continued.
inline constexpr int kStateEarlierGasSums = 3497;
// Scenes and images that carry them ("%d" stands for a line, "%s" for a file).
inline constexpr int kActionSaveScene = 3500;
inline constexpr int kSceneFilter = 3501;
inline constexpr int kOpenFilter = 3502;
inline constexpr int kPng16Filter = 3503;
inline constexpr int kNotSceneExtension = 3504;
inline constexpr int kReasonSceneLine = 3505;
inline constexpr int kReasonNewerScene = 3506;
inline constexpr int kReasonNoScene = 3507;
inline constexpr int kReasonSceneNotFinite = 3508;
// Before a finished render or a changed scene is lost ("%s" stands for the document).
inline constexpr int kRenderWillBeLost = 3510;
inline constexpr int kContinue = 3511;
inline constexpr int kUnsavedRender = 3512;
inline constexpr int kUnsavedScene = 3513;
inline constexpr int kSaveButton = 3514;
inline constexpr int kDontSave = 3515;
inline constexpr int kCancelButton = 3516;
// Images larger than their window: shown scaled, or at 100% on demand.
inline constexpr int kActionActualSize = 3520;
inline constexpr int kTipActualSize = 3521;
// Undo, redo and the history of a document ("%s" stands for the name of a step). The
// names of the steps follow kStepNameFirst in the order of HistoryStep (the first names the
// state a history starts from).
inline constexpr int kMenuEdit = 3560;
inline constexpr int kActionUndo = 3561;
inline constexpr int kActionUndoStep = 3562;
inline constexpr int kActionRedo = 3563;
inline constexpr int kActionRedoStep = 3564;
inline constexpr int kActionHistory = 3565;
inline constexpr int kTipUndo = 3566;
inline constexpr int kTipRedo = 3567;
inline constexpr int kTipHistory = 3568;
inline constexpr int kHistoryCaption = 3569;
inline constexpr int kStepNameFirst = 3570;
inline constexpr int kStepNameLast = 3586;
inline constexpr int kAccHistoryList = 3590;
// The first hour: refusals, the new document's hint, tooltips, accessible names, and
// the toolkit's texts that its own French translation lacks.
inline constexpr int kCloseRefused = 3600;
inline constexpr int kQuitRefused = 3601;
inline constexpr int kSearchHint = 3602;
inline constexpr int kDecimalSeparator = 3603;
inline constexpr int kTipFixed = 3604;
inline constexpr int kTipNew = 3610;
inline constexpr int kTipOpen = 3611;
inline constexpr int kTipSaveAttractor = 3612;
inline constexpr int kTipSaveImage = 3613;
inline constexpr int kTipClose = 3614;
inline constexpr int kTipQuit = 3615;
inline constexpr int kTipLanguage = 3616;
inline constexpr int kTipAbout = 3617;
inline constexpr int kTipSearch = 3618;
inline constexpr int kTipStopSearch = 3619;
inline constexpr int kTipStart = 3620;
inline constexpr int kTipStop = 3621;
inline constexpr int kTipFit = 3622;
inline constexpr int kTipCentre = 3623;
inline constexpr int kTipCopy = 3624;
inline constexpr int kTipAutoFit = 3625;
inline constexpr int kTipKind = 3630;
inline constexpr int kTipOption = 3631;
inline constexpr int kTipIterations = 3632;
inline constexpr int kTipRandomness = 3633;
inline constexpr int kTipParameter = 3634;
inline constexpr int kTipDegree = 3635;
inline constexpr int kTipRenderMode = 3636;
inline constexpr int kTipWidth = 3637;
inline constexpr int kTipHeight = 3638;
inline constexpr int kTipUpdates = 3639;
inline constexpr int kTipScale = 3640;
inline constexpr int kTipLuminosity = 3641;
inline constexpr int kTipGamma = 3642;
inline constexpr int kTipOpacity = 3643;
inline constexpr int kTipRoughness = 3644;
inline constexpr int kTipSpeedGradient = 3645;
inline constexpr int kTipAngleGradient = 3646;
inline constexpr int kAccActivity = 3650;
inline constexpr int kAccProgress = 3651;
inline constexpr int kAccSpeed = 3652;
inline constexpr int kAccTime = 3653;
inline constexpr int kAccStatusBar = 3654;
inline constexpr int kAccDocumentImage = 3655;
inline constexpr int kAccChecked = 3657;
inline constexpr int kAccUnchecked = 3658;
inline constexpr int kToolkitFolder = 3670;
inline constexpr int kToolkitDrive = 3671;
inline constexpr int kToolkitShortcut = 3672;
inline constexpr int kToolkitUnknown = 3673;
inline constexpr int kToolkitFile = 3674;
inline constexpr int kToolkitSuffixFile = 3675;
// Point clouds
inline constexpr int kActionExportCloud = 3950;
inline constexpr int kTipExportCloud = 3951;
inline constexpr int kCloudFilter = 3952;
inline constexpr int kCloudProgress = 3953;
inline constexpr int kCloudStop = 3954;
inline constexpr int kCloudDiverged = 3955;
inline constexpr int kCloudOptionsCaption = 3956;
inline constexpr int kCloudCount = 3957;
inline constexpr int kCloudAscii = 3958;
inline constexpr int kTipCloudCount = 3959;
// The animation dialog
inline constexpr int kActionAnimation = 3960;
inline constexpr int kTipAnimation = 3961;
inline constexpr int kAnimationCaption = 3962;
inline constexpr int kAnimTurntable = 3963;
inline constexpr int kAnimJourney = 3964;
inline constexpr int kAnimFrames = 3965;
inline constexpr int kAnimDegrees = 3966;
inline constexpr int kAnimAxis = 3967;
inline constexpr int kAnimAxisView = 3968;
inline constexpr int kAnimEase = 3969;
inline constexpr int kAnimEaseLinear = 3970;
inline constexpr int kAnimEaseSmooth = 3971;
inline constexpr int kAnimAddView = 3972;
inline constexpr int kAnimAddScene = 3973;
inline constexpr int kAnimRemove = 3974;
inline constexpr int kAnimFixedExposure = 3975;
inline constexpr int kAnimFolder = 3976;
inline constexpr int kAnimChoose = 3977;
inline constexpr int kAnimPreview = 3978;
inline constexpr int kAnimStopPreview = 3979;
inline constexpr int kAnimRender = 3980;
inline constexpr int kAnimStop = 3981;
inline constexpr int kAnimFrameOf = 3982;
inline constexpr int kAnimExposureOf = 3983;
inline constexpr int kAnimTotal = 3984;
inline constexpr int kAnimFrame = 3985;
inline constexpr int kAnimDone = 3986;
inline constexpr int kAnimDiverged = 3987;
inline constexpr int kAnimNotThisFrame = 3988;
inline constexpr int kAnimTooFew = 3989;
inline constexpr int kAnimMismatch = 3990;
inline constexpr int kAnimSceneDiverges = 3991;
inline constexpr int kTipAnimRender = 3992;
inline constexpr int kAnimKeyframes = 3993;
inline constexpr int kAnimCurrentView = 3994;
inline constexpr int kAnimStopped = 3995;
inline constexpr int kAnimChooseFolder = 3996;
inline constexpr int kAnimClose = 3997;
inline constexpr int kAnimMotion = 3998;
inline constexpr int kAnimOutput = 3999;
}  // namespace TextId

class StringTable {
public:
    using Texts = std::unordered_map<int, std::string>;

    StringTable();
    StringTable(const StringTable&) = delete;
    StringTable& operator=(const StringTable&) = delete;

    // The text with this id in the current language, or the built-in French text when the
    // language lacks it, or an empty text for an id nobody knows. The reference stays valid
    // for the table's life, across changes of language.
    const std::string& text(int id) const;
    // The built-in French text, whatever the language.
    static const std::string& builtinText(int id);
    static bool hasBuiltinText(int id);
    // Every id with a built-in text, in increasing order.
    static std::vector<int> builtinIds();
    // The keywords of the attractor file: files are read and written with whatever the table
    // holds, so they are the same in every language and overrides of them are dropped.
    static bool isFileKeyword(int id);

    // The texts of the current language; an empty table means French. Safe while other
    // threads read texts.
    void setOverrides(Texts overrides);
    void clearOverrides() { setOverrides({}); }
    bool isFrench() const { return current_.load(std::memory_order_acquire)->empty(); }

private:
    std::atomic<const Texts*> current_;
    // Every table ever set, so that texts handed out earlier stay valid. A language changes a
    // handful of times in a session, and a table is a few kilobytes.
    std::vector<std::unique_ptr<const Texts>> tables_;
    std::mutex changing_;
};

// The program's table, in the language chosen at start or since.
StringTable& strings();

inline const std::string& text(int id) { return strings().text(id); }

}  // namespace qm
